// orvane-match: Match Z over a points file as CSV (MatchTool.h).
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "MatchTool.h"

int main(int argc, char** argv) {
    // A closed pipe or a file size limit fails the write instead of ending
    // the process without a word: RunMatchTool reports it (exit 74).
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return RunMatchTool(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
