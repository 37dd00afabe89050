// orvane-match LEFT RIGHT LEFT.ORN RIGHT.ORN POINTS.pts [--ids FILE]
//   [--window N] [--range METRES] [--band N] [--write OUT.pts]:
// Match Z (Matching/Matcher.h) for the live points of a points file, or the
// records listed in FILE (one record number per line), printed as CSV, one
// row per point in the order matched:
//   id,x,y,z,x_new,y_new,z_new,status,correlation,sigma_px
// id is the record index; coordinates are ground units with 3 decimals;
// status is matched, no-match or outside; the new values equal the old ones
// unless matched; correlation and sigma_px (pixels of parallax) have 4
// decimals and are empty where no refinement ran (always for outside).
// --write also writes a copy of the points file with the matched positions
// (same records in the same order, bounds widened to hold them) through a
// temporary renamed over OUT; OUT may not be the points file itself (the
// same path, a link to it or another name of the same file). The input is
// never changed. Progress goes to the error stream on long runs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses: 0 matched (whatever the share of matches); 1 an input cannot
// be read (the message names it; no rows are printed); 64 a bad command line
// (unknown option, a window that is not odd 7..31, --write onto the input);
// 74 the rows or the copy cannot be written (a full disk, a closed pipe).
// main() ignores SIGPIPE and SIGXFSZ, so that such failures are reported.
constexpr int kMatchToolUsage = 64;
constexpr int kMatchToolOutput = 74;

// Runs the tool on the arguments after the program name, CSV to `out`,
// messages to `err`; threads 0: every hardware thread. The exit status.
int RunMatchTool(const std::vector<std::string>& args, FILE* out, FILE* err, int threads = 0);
