// orvane-check POINTS.pts [--top N] [--min-score S]: the check ranking of a
// points file as CSV (CheckTool.h).
#include <cstdio>
#include <string>
#include <vector>

#include "CheckTool.h"

int main(int argc, char** argv) {
    return RunCheckTool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
