// orvane-convert IN OUT: converts points between the points file (.pts), LAS
// (.las) and XYZ text (.xyz), each chosen by its extension. On any error the
// message names the file, goes to standard error, nothing is written and the
// exit status is 1 (2 for a wrong command line; 74 when the summary cannot
// be written to standard output, a closed pipe, after OUT was written).
// SIGPIPE and SIGXFSZ are ignored: a closed pipe or a file size limit makes
// a write fail, which is reported, and the temporary beside OUT is removed.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "Platform/Platform.h"
#include "PointIO/PointIO.h"
#include "TIN/TINPoints.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(
            "usage: orvane-convert IN OUT\n"
            "Converts points between .pts (points file), .las (LAS 1.0-1.4 in, LAS 1.4 out)\n"
            "and .xyz (text: x y z [weight]); the extensions choose the formats.\n",
            stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    Platform::SetMessageSink([](const std::string& text, Platform::MessageKind) {
        std::fprintf(stderr, "orvane-convert: %s\n", text.c_str());
    });
    const std::string in = argv[1], out = argv[2];
    if (PointFileTypeOf(out) == PointFileType::Unknown) {
        std::fprintf(stderr, "orvane-convert: %s: unknown file type (use .pts, .las or .xyz)\n",
                     out.c_str());
        return 1;
    }
    CTINPoints points;
    if (ImportPoints(in, points) != 1) return 1;
    const int written = ExportPoints(out, points);
    if (written < 0) return 1;
    std::printf("%d points from %s written to %s\n", written, in.c_str(), out.c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "orvane-convert: cannot write to standard output: %s\n",
                     std::strerror(errno ? errno : EIO));
        return 74;
    }
    return 0;
}
