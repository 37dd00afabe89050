// orvane-check POINTS.pts [--top N] [--min-score S] [--pits [--interval M]]:
// the check ranking of a points file as CSV (CheckTool.h).
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "CheckTool.h"

int main(int argc, char** argv) {
    // A closed pipe or a file size limit fails the write instead of ending
    // the process without a word: RunCheckTool reports it (exit 74).
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return RunCheckTool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
