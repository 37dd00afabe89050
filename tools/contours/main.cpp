// orvane-contours POINTS.pts [--interval METRES] OUT: the contours of a points
// file's surface as a vector file (ContourTool.h).
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "ContourTool.h"

int main(int argc, char** argv) {
    std::signal(SIGXFSZ, SIG_IGN);
    return RunContourTool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
