// The orvane-match command. See MatchTool.h.
#include "MatchTool.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "CommandLine.h"
#include "GdalImage/GdalImage.h"
#include "Matching/Matcher.h"
#include "Platform/FileHandle.h"
#include "Platform/Platform.h"
#include "TIN/PointsFileSave.h"
#include "TIN/TINPoints.h"

namespace {

const char* const kUsage =
    "usage: orvane-match LEFT RIGHT LEFT.ORN RIGHT.ORN POINTS.pts [--ids FILE] [--window N]\n"
    "                    [--range METRES] [--band N] [--write OUT.pts]\n"
    "Measures the height of each point from the two photographs (correlation along the left\n"
    "ray, least-squares refinement) and prints one CSV row per point:\n"
    "id,x,y,z,x_new,y_new,z_new,status,correlation,sigma_px (status: matched, no-match, "
    "outside).\n"
    "  --ids FILE       only the record numbers listed in FILE, one per line (default: every\n"
    "                   live point); the listed points are left out of the neighbours' surface\n"
    "  --window N       window side in pixels, odd, 7 to 31 (default 15)\n"
    "  --range METRES   half the searched height interval (default: from the neighbours'\n"
    "                   spread, at least 3); never more than 30 pixels of parallax\n"
    "  --band N         band of both photographs, counted from 1 (default 1)\n"
    "  --write OUT.pts  also write a copy of the points with the matched positions\n"
    "  -h, --help       this text\n"
    "Exit status: 0 done; 1 an input cannot be read; 64 a bad command line; 74 the output\n"
    "cannot be written.\n";

bool ParsePositive(const std::string& text, double& value) {
    double v = 0.0;
    if (!ParseReal(text, v) || !std::isfinite(v) || !(v > 0.0)) return false;
    value = v;
    return true;
}

// Reads the record numbers of an ids file: one whole number per line
// (surrounding blanks and empty lines allowed). False with `why` set when the
// file cannot be read or a line is no record of the set.
bool ReadIds(const std::string& path, int count, std::vector<int>& ids, std::string& why) {
    Platform::FilePtr file = Platform::OpenRegularFile(path, "r");
    if (!file) {
        why = Platform::NotARegularFile(path);
        if (why.empty()) why = std::strerror(errno ? errno : EIO);
        return false;
    }
    char line[256];
    for (int number = 1; std::fgets(line, sizeof line, file.get()); ++number) {
        std::string text(line);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        const size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        int id = 0;
        if (!ParseInteger(text.substr(first), 0, 2147483647L, id) || id >= count) {
            why = "line " + std::to_string(number) +
                  " is no record number of the points file (0 to " + std::to_string(count - 1) +
                  ")";
            return false;
        }
        ids.push_back(id);
    }
    if (std::ferror(file.get())) {
        why = std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

// True when `a` and `b` name the same file: the same path, or (both
// existing, links followed) the same device and inode.
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void Field(FILE* out, double v, const char* format) {
    if (std::isfinite(v)) std::fprintf(out, format, v);
}

}  // namespace

int RunMatchTool(const std::vector<std::string>& args, FILE* out, FILE* err, int threads) {
    std::vector<std::string> inputs;
    std::string idsPath, writePath;
    MatchOptions options;
    options.threads = threads;
    int band = 1;
    auto usage = [&](const std::string& why) {
        std::fprintf(err, "orvane-match: %s\n%s", why.c_str(), kUsage);
        return kMatchToolUsage;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        CCommandLineOption option(args, i);
        const std::string& name = option.name;
        const std::string& value = option.value;
        auto takeValue = [&] { return option.TakeValue(); };
        if (name == "-h" || name == "--help") {
            std::fputs(kUsage, out);
            return 0;
        } else if (name == "--ids") {
            if (!takeValue() || value.empty()) return usage("--ids needs a file");
            idsPath = value;
        } else if (name == "--write") {
            if (!takeValue() || value.empty()) return usage("--write needs a file");
            writePath = value;
        } else if (name == "--window") {
            if (!takeValue() ||
                !ParseInteger(value, kMinMatchWindow, kMaxMatchWindow, options.window) ||
                !IsValidMatchWindow(options.window))
                return usage("--window needs an odd number of pixels from 7 to 31");
        } else if (name == "--range") {
            if (!takeValue() || !ParsePositive(value, options.range))
                return usage("--range needs a positive number of metres");
        } else if (name == "--band") {
            if (!takeValue() || !ParseInteger(value, 1, 65535, band))
                return usage("--band needs a band number from 1");
        } else if (!name.empty() && name[0] == '-' && name != "-") {
            return usage("unknown option " + name);
        } else {
            inputs.push_back(name);
        }
    }
    if (inputs.size() != 5)
        return usage(inputs.size() < 5 ? "five inputs are needed" : "too many inputs");
    options.band = band - 1;
    const std::string& pointsPath = inputs[4];
    if (!writePath.empty() && SameFile(writePath, pointsPath))
        return usage("--write may not name the points file itself: " + writePath);

    // Inputs, read as the program reads them; the first that fails ends the run.
    Platform::ScopedMessageCapture messages;  // readers' message boxes go to the error stream
    auto cannot = [&](const std::string& path, const std::string& why) {
        std::fprintf(err, "orvane-match: cannot read %s: %s\n", path.c_str(), why.c_str());
        for (const std::string& text : messages.Texts())
            std::fprintf(err, "orvane-match: %s\n", text.c_str());
        return 1;
    };
    CAerialPhoto left, right;
    const char* photoReasons[] = {"",
                                  "not enough memory for the image",
                                  "its sizes are not usable",
                                  "it ends inside the header",
                                  "it cannot be opened",
                                  "it cannot be decoded",
                                  "its sample type is not supported"};
    for (int k = 0; k < 2; ++k) {
        CAerialPhoto& photo = k == 0 ? left : right;
        const std::string& path = inputs[static_cast<size_t>(k)];
        const int read = ReadPhotograph(path, photo.m_image);
        if (read != 1 || !photo.m_image.GetBands()) {
            const int reason = read < 0 && read >= -6 ? -read : 4;
            std::string why = photoReasons[reason];
            if (read == kPhotoCannotOpen && !Platform::NotARegularFile(path).empty())
                why = Platform::NotARegularFile(path);
            return cannot(path, why);
        }
        if (options.band >= photo.m_image.GetHeader().nbands)
            return cannot(path, "it has no band " + std::to_string(band));
    }
    for (int k = 0; k < 2; ++k) {
        const std::string& path = inputs[static_cast<size_t>(k + 2)];
        if (!Platform::NotARegularFile(path).empty())
            return cannot(path, Platform::NotARegularFile(path));
        if ((k == 0 ? left : right).ReadOrientation(path) < 0)
            return cannot(path, "it is no orientation file");
    }
    if (struct stat info{}; stat(pointsPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return cannot(pointsPath, Platform::NotARegularFile(pointsPath) + ", not a points file");
    CTINPoints points;
    if (const int read = points.ReadPts(pointsPath); read < 0)
        return cannot(pointsPath, CTINPoints::ReadPtsFailure(read));
    if (points.BuildIndex(1) < 0)
        return cannot(pointsPath, "a record lies outside the header's bounds or has no position");
    std::vector<int> ids;
    if (!idsPath.empty()) {
        std::string why;
        if (!ReadIds(idsPath, points.GetCount(), ids, why)) return cannot(idsPath, why);
    } else {
        for (int i = 0; i < points.GetCount(); ++i) {
            if (points.GetPoint(i)->id >= 0) ids.push_back(i);
        }
    }

    // Progress every two seconds once a run takes that long.
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    auto progress = [&](int64_t done, int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::seconds(2) || done == total) return;
        last = now;
        std::fprintf(err, "orvane-match: %lld of %lld points\n", static_cast<long long>(done),
                     static_cast<long long>(total));
    };
    std::vector<MatchResult> results;
    const int matched = MatchPoints(points, left, right, nullptr, ids, !idsPath.empty(), options,
                                    results, progress);
    if (matched < 0) return cannot(pointsPath, "no surface can be built from its points");

    std::fputs("id,x,y,z,x_new,y_new,z_new,status,correlation,sigma_px\n", out);
    int outside = 0;
    for (const MatchResult& r : results) {
        const TINPoint* p = points.GetPoint(r.index);
        const double x = p->x, y = p->y, z = p->z;
        std::fprintf(out, "%d,%.3f,%.3f,%.3f,%.3f,%.3f,%.3f,%s,", r.index, x, y, z, r.x, r.y, r.z,
                     MatchStatusName(r.status));
        outside += r.status == MatchStatus::Outside;
        if (r.status != MatchStatus::Outside) {
            Field(out, r.correlation, "%.4f");
            std::fputc(',', out);
            Field(out, r.sigmaPx, "%.4f");
        } else {
            std::fputc(',', out);
        }
        std::fputc('\n', out);
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "orvane-match: cannot write the rows: %s\n",
                     std::strerror(errno ? errno : EIO));
        return kMatchToolOutput;
    }
    std::fprintf(err, "orvane-match: matched %d of %zu points; %zu without a match, %d outside\n",
                 matched, results.size(),
                 results.size() - static_cast<size_t>(matched) - static_cast<size_t>(outside),
                 outside);

    if (!writePath.empty()) {
        // The copy: every record where it was, the matched ones moved, the
        // bounds widened to hold them (nothing compacted, so record numbers stay).
        for (const MatchResult& r : results) {
            if (r.status != MatchStatus::Matched) continue;
            TINPoint* p = points.GetPoint(r.index);
            p->x = r.x;
            p->y = r.y;
            p->z = r.z;
            points.m_dMinX = std::min(points.m_dMinX, r.x);
            points.m_dMaxX = std::max(points.m_dMaxX, r.x);
            points.m_dMinY = std::min(points.m_dMinY, r.y);
            points.m_dMaxY = std::max(points.m_dMaxY, r.y);
            points.m_dMinZ = std::min(points.m_dMinZ, r.z);
            points.m_dMaxZ = std::max(points.m_dMaxZ, r.z);
        }
        Platform::SaveFailure failure;
        if (SavePointsFile(points, writePath, &failure) != 1) {
            std::string why = Platform::SaveFailureReason(failure);
            if (why.empty()) why = std::strerror(failure.error ? failure.error : EIO);
            std::fprintf(err, "orvane-match: cannot write %s: %s\n", writePath.c_str(),
                         why.c_str());
            return kMatchToolOutput;
        }
    }
    return 0;
}
