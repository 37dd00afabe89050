// The orvane-check command. See CheckTool.h.
#include "CheckTool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Checking/CheckRanking.h"
#include "CommandLine.h"
#include "Platform/FileHandle.h"
#include "Platform/Platform.h"
#include "Surface/ContourPits.h"
#include "Surface/Contours.h"
#include "Surface/Surface.h"
#include "TIN/TINPoints.h"

namespace {

const char* const kUsage =
    "usage: orvane-check POINTS.pts [--top N] [--min-score S] [--pits [--interval METRES]]\n"
    "Ranks the points of a points file by how far each lies off the robust surface of its\n"
    "neighbours and prints the ranking as CSV, worst first: rank,id,x,y,z,weight,score.\n"
    "  --top N         at most N rows (N >= 0)\n"
    "  --min-score S   only points scoring at least S\n"
    "  --pits          also, whatever their score, the points inside a closed contour that\n"
    "                  encloses one or two points only (pits and peaks), as the program's\n"
    "                  check queue lists them\n"
    "  --interval M    the contour interval of --pits (M > 0; default: the points' own,\n"
    "                  as the program's contours)\n"
    "  -h, --help      this text\n"
    "Exit status: 0 ranked; 1-6 the points file cannot be read (the reason is printed);\n"
    "64 a bad command line; 74 the ranking cannot be written (a full disk, a closed pipe).\n";

// The first record the program's loader would refuse (BuildIndex over the
// header's bounds), or -1 when every record is indexed.
int FirstUnindexedRecord(CTINPoints& points) {
    Platform::ScopedMessageCapture quiet;  // the index's message box text is not for a terminal
    if (points.BuildIndex(1) >= 0) return -1;
    const CGridIndex& index = points.m_index;
    for (int i = 0; i < points.GetCount(); ++i) {
        const TINPoint* p = points.GetPoint(i);
        if (index.CellNumber(p->x, p->y) == CGridIndex::kNoCell) return i;
    }
    return -1;
}

}  // namespace

int RunCheckTool(const std::vector<std::string>& args, FILE* out, FILE* err) {
    std::string path;
    int top = -1;
    double minScore = -INFINITY;
    bool pits = false;
    double interval = 0.0;  // 0: the default of the points
    for (size_t i = 0; i < args.size(); ++i) {
        CCommandLineOption option(args, i);
        const std::string& name = option.name;
        const std::string& value = option.value;
        auto takeValue = [&] { return option.TakeValue(); };
        if (name == "-h" || name == "--help") {
            std::fputs(kUsage, out);
            return 0;
        } else if (name == "--top") {
            if (!takeValue() || !ParseInteger(value, 0, 2147483647L, top)) {
                std::fprintf(err, "orvane-check: --top needs a whole number >= 0\n%s", kUsage);
                return kCheckToolUsage;
            }
        } else if (name == "--min-score") {
            if (!takeValue() || !ParseReal(value, minScore)) {
                std::fprintf(err, "orvane-check: --min-score needs a number\n%s", kUsage);
                return kCheckToolUsage;
            }
        } else if (name == "--pits" && !option.HasInlineValue()) {
            pits = true;
        } else if (name == "--interval") {
            if (!takeValue() || !ParseReal(value, interval) || !std::isfinite(interval) ||
                !(interval > 0.0)) {
                std::fprintf(err, "orvane-check: --interval needs a number above 0\n%s", kUsage);
                return kCheckToolUsage;
            }
        } else if (!name.empty() && name[0] == '-' && name != "-") {
            std::fprintf(err, "orvane-check: unknown option %s\n%s", name.c_str(), kUsage);
            return kCheckToolUsage;
        } else if (path.empty()) {
            path = name;
        } else {
            std::fprintf(err, "orvane-check: more than one points file: %s\n%s", name.c_str(),
                         kUsage);
            return kCheckToolUsage;
        }
    }
    if (path.empty()) {
        std::fprintf(err, "orvane-check: no points file given\n%s", kUsage);
        return kCheckToolUsage;
    }
    if (interval > 0.0 && !pits) {
        std::fprintf(err, "orvane-check: --interval is the contour interval of --pits\n%s", kUsage);
        return kCheckToolUsage;
    }

    // A folder, a named pipe or a device (/dev/null) is no points file; a
    // pipe would also block the read.
    if (struct stat info{}; stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fprintf(err, "orvane-check: cannot read %s: %s, not a points file\n", path.c_str(),
                     Platform::NotARegularFile(path).c_str());
        return 1;
    }
    CTINPoints points;
    const int read = points.ReadPts(path);
    if (read < 0) {
        std::fprintf(err, "orvane-check: cannot read %s: %s\n", path.c_str(),
                     CTINPoints::ReadPtsFailure(read));
        return -read;
    }
    // The program refuses a file whose records it cannot index over the
    // header's bounds (an X or Y that is not a number, or a point far
    // outside them): so does the tool, instead of leaving those points out.
    if (const int bad = FirstUnindexedRecord(points); bad >= 0) {
        const TINPoint* p = points.GetPoint(bad);
        const double x = p->x, y = p->y;
        if (!std::isfinite(x) || !std::isfinite(y)) {
            std::fprintf(err,
                         "orvane-check: cannot read %s: record %d: its X or Y is not a finite "
                         "number\n",
                         path.c_str(), bad);
        } else {
            std::fprintf(err,
                         "orvane-check: cannot read %s: record %d at X %.4f, Y %.4f lies far "
                         "outside the header's bounds (X %.4f to %.4f, Y %.4f to %.4f)\n",
                         path.c_str(), bad, x, y, points.m_dMinX, points.m_dMaxX, points.m_dMinY,
                         points.m_dMaxY);
        }
        return 1;
    }
    CCheckRanking ranking(points);
    ranking.Rank();
    // Without a threshold every scored point is listed already, in its
    // place: the contours would add nothing.
    std::vector<int> pitsAndPeaks;
    if (pits && minScore > -INFINITY) {
        CSurface surface;
        surface.Build(points);
        CContours contours;
        contours.Build(surface, interval > 0.0 ? interval : DefaultContourInterval(points));
        pitsAndPeaks = FindContourPits(surface, contours, points);
    }
    std::vector<int> order;
    ranking.Worst(top, minScore, pitsAndPeaks, order);
    std::fputs("rank,id,x,y,z,weight,score\n", out);
    for (size_t r = 0; r < order.size(); ++r) {
        const TINPoint* p = points.GetPoint(order[r]);
        const double x = p->x, y = p->y, z = p->z, w = p->weight;
        std::fprintf(out, "%zu,%d,%.4f,%.4f,%.4f,%.4f,%.3f\n", r + 1, order[r], x, y, z, w,
                     ranking.Score(order[r]));
    }
    // One line for a failed write (a closed pipe, a full disk), and nothing else.
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "orvane-check: cannot write the ranking: %s\n",
                     std::strerror(errno ? errno : EIO));
        return kCheckToolOutput;
    }
    if (const int insufficient = ranking.InsufficientCount(); insufficient > 0) {
        std::fprintf(err, "orvane-check: %d points of %s have too few neighbours to be scored\n",
                     insufficient, path.c_str());
    }
    return 0;
}
