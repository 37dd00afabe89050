#include "ContourTool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Platform/FileHandle.h"
#include "Platform/Platform.h"
#include "Surface/ContourExport.h"
#include "Surface/Contours.h"
#include "Surface/Surface.h"
#include "TIN/TINPoints.h"

namespace {

const char kUsage[] =
    "usage: orvane-contours POINTS.pts [--interval METRES] OUT\n"
    "  OUT ends in .geojson, .shp or .dxf\n";

}  // namespace

int RunContourTool(const std::vector<std::string>& args, FILE* out, FILE* err) {
    std::vector<std::string> files;
    double interval = 0.0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--interval") {
            if (i + 1 >= args.size()) {
                std::fprintf(err, "orvane-contours: --interval needs a number\n%s", kUsage);
                return kContourToolUsage;
            }
            const std::string& text = args[++i];
            char* end = nullptr;
            errno = 0;
            interval = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(interval) ||
                !(interval > 0.0)) {
                std::fprintf(err,
                             "orvane-contours: the interval must be a number above 0, not %s\n",
                             text.c_str());
                return kContourToolUsage;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(err, "orvane-contours: unknown option %s\n%s", a.c_str(), kUsage);
            return kContourToolUsage;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        std::fprintf(err, "orvane-contours: give one points file and one output\n%s", kUsage);
        return kContourToolUsage;
    }
    const std::string& path = files[0];
    const std::string& output = files[1];
    if (ContourDriverFor(output).empty()) {
        std::fprintf(err, "orvane-contours: %s: the output must end in .geojson, .shp or .dxf\n",
                     output.c_str());
        return kContourToolUsage;
    }
    if (struct stat info{}; stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fprintf(err, "orvane-contours: cannot read %s: %s, not a points file\n", path.c_str(),
                     Platform::NotARegularFile(path).c_str());
        return 1;
    }
    CTINPoints points;
    const int read = points.ReadPts(path);
    if (read < 0) {
        std::fprintf(err, "orvane-contours: cannot read %s: %s\n", path.c_str(),
                     CTINPoints::ReadPtsFailure(read));
        return 1;
    }
    CSurface surface;
    if (surface.Build(points) == 0) {
        std::fprintf(err,
                     "orvane-contours: %s gives no surface: fewer than three points off one line\n",
                     path.c_str());
        return kContourToolNoSurface;
    }
    if (interval == 0.0) {
        interval = DefaultContourInterval(points);
        std::fprintf(out, "orvane-contours: interval %g (the default of these points)\n", interval);
    }
    double zmin = INFINITY, zmax = -INFINITY;
    for (int r = 0; r < surface.RecordCount(); ++r) {
        if (!surface.IsVertex(r)) continue;
        zmin = std::min(zmin, surface.Z(r));
        zmax = std::max(zmax, surface.Z(r));
    }
    const double levels = (zmax - zmin) / interval;
    if (!(levels <= kContourToolMostLevels) ||
        std::max(std::fabs(zmin), std::fabs(zmax)) / interval > 1e9) {
        std::fprintf(err,
                     "orvane-contours: an interval of %g gives %.0f levels over heights %g to %g; "
                     "at most %.0f are made\n",
                     interval, levels, zmin, zmax, kContourToolMostLevels);
        return kContourToolTooManyLevels;
    }
    CContours contours;
    contours.Build(surface, interval);
    std::vector<ContourLine> lines;
    contours.Lines(surface, lines);
    std::string why;
    if (WriteContours(output, lines, &why) != 1) {
        std::fprintf(err, "orvane-contours: %s\n", why.c_str());
        return kContourToolOutput;
    }
    std::fprintf(out, "orvane-contours: %zu lines of %d segments to %s\n", lines.size(),
                 contours.SegmentCount(), output.c_str());
    return 0;
}
