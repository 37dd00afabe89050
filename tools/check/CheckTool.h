// orvane-check POINTS.pts [--top N] [--min-score S] [--pits [--interval M]]:
// ranks the points of a points file by suspicion (Checking/CheckRanking.h)
// and prints the ranking as CSV, worst first:
//   rank,id,x,y,z,weight,score
// rank counts from 1; id is the record index in the file; x, y, z are ground
// coordinates; score is dimensionless. Points with too few neighbours to be
// scored are not listed; their number goes to the error stream.
// --pits adds, below the --min-score threshold, the scored points inside a
// closed contour that encloses one or two points only
// (Surface/ContourPits.h), each in its place by its score, as the program's
// check queue lists them; the contours are at --interval M (ground units of
// Z) or at the points' default interval, as the program's after a load. It
// is asked for, not the default, so that a caller's --min-score list keeps
// meaning "scoring at least S"; without --min-score it changes nothing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses of the tool: 0 ranked; 1 .. 6 the points file could not be
// read, the status being minus CTINPoints::ReadPts's result, or 1 for a
// path that is no regular file (a folder, a named pipe, /dev/null) and for
// a file the program would refuse too (a record whose X or Y is not a
// finite number, or that lies far outside the header's bounds: outside the
// grid index over them), the first such record named; 64 bad command line;
// 74 the ranking could not be written (a full disk, a closed pipe).
// main() ignores SIGPIPE and SIGXFSZ, so that a closed pipe or a file size
// limit is such a failed write, reported, not the end of the process.
constexpr int kCheckToolUsage = 64;
constexpr int kCheckToolOutput = 74;

// Runs the tool on the arguments after the program name, writing the CSV to
// `out` and messages to `err`. Returns the exit status.
int RunCheckTool(const std::vector<std::string>& args, FILE* out, FILE* err);
