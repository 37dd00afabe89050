// Conversions to GeoTIFF through gdal_translate. See GdalConvert.h.
#include "GdalConvert.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "LanWriter.h"
#include "Platform/FileHandle.h"
#include "erdasimg/erdasimg.h"

extern char** environ;

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

}  // namespace

GeoTiffLayout TiledGeoTiff() {
    return GeoTiffLayout{};
}

GeoTiffLayout StripedGeoTiff() {
    GeoTiffLayout layout;
    layout.tiled = false;
    layout.block = 16;
    return layout;
}

int RunGdalTranslate(const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> all = {"gdal_translate", "-q"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "gdal_translate", nullptr, nullptr, argv.data(), environ) != 0) {
        SetError(error, "gdal_translate cannot be started");
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const std::string& a : all) line += a + " ";
        SetError(error, "failed: " + line);
        return -2;
    }
    return 1;
}

int ConvertToGeoTiff(const std::string& in, const std::string& out, const GeoTiffLayout& layout,
                     std::string* error) {
    std::vector<std::string> args = {"-of", "GTiff"};
    for (int b : layout.bands) {
        args.push_back("-b");
        args.push_back(std::to_string(b));
    }
    auto co = [&](const std::string& option) {
        args.push_back("-co");
        args.push_back(option);
    };
    const std::string block = std::to_string(layout.block);
    if (layout.tiled) {
        co("TILED=YES");
        co("BLOCKXSIZE=" + block);
        co("BLOCKYSIZE=" + block);
    } else {
        co("TILED=NO");
        co("BLOCKYSIZE=" + block);
    }
    co("INTERLEAVE=" + layout.interleave);
    co("COMPRESS=" + layout.compress);
    args.push_back(in);
    args.push_back(out);
    return RunGdalTranslate(args, error);
}

int WriteThreeBandLan(const std::string& lanIn, const std::string& lanOut) {
    CErdasImage image;
    {
        Platform::FilePtr f = Platform::OpenFile(lanIn, "rb");
        if (!f || image.ReadImage(f.get()) != 1 || image.GetBytesPerSample() != 1) return -1;
    }
    const LanHeader& h = image.GetHeader();
    const size_t n = static_cast<size_t>(h.ncols) * static_cast<size_t>(h.nrows);
    const unsigned char* b0 = image.GetBands()[0];
    std::vector<unsigned char> b1(n), b2(n);
    for (size_t i = 0; i < n; ++i) {
        b1[i] = static_cast<unsigned char>(255 - b0[i]);
        b2[i] = static_cast<unsigned char>(b0[i] ^ 0x5A);
    }
    LanHeader out = h;
    out.nbands = 3;
    return WriteLanFile(lanOut, out, {b0, b1.data(), b2.data()}) == 1 ? 1 : -2;
}

int MakeGeoTiffProject(const std::string& lanDir, const std::string& outDir,
                       const GeoTiffLayout& layout, int bands, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec) {
        SetError(error, "cannot create " + outDir);
        return -1;
    }
    for (const char* name : {"left", "right"}) {
        std::string source = (fs::path(lanDir) / (std::string(name) + ".lan")).string();
        const std::string target = (fs::path(outDir) / (std::string(name) + ".tif")).string();
        std::string three;
        if (bands == 3) {
            three = (fs::path(outDir) / (std::string(name) + "-3band.lan")).string();
            if (WriteThreeBandLan(source, three) != 1) {
                SetError(error, "cannot write " + three);
                return -2;
            }
            source = three;
        } else if (bands != 1) {
            SetError(error, "bands must be 1 or 3");
            return -1;
        }
        const int rc = ConvertToGeoTiff(source, target, layout, error);
        if (!three.empty()) fs::remove(three, ec);
        if (rc != 1) return -3;
    }
    for (const char* name : {"left.ORN", "right.ORN", "points.pts"}) {
        fs::copy_file(fs::path(lanDir) / name, fs::path(outDir) / name,
                      fs::copy_options::overwrite_existing, ec);
        if (ec) {
            SetError(error, std::string("cannot copy ") + name);
            return -4;
        }
    }
    return 1;
}
