#include "Project/ProjectFile.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "Platform/AtomicFile.h"
#include "Platform/FileHandle.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstLine = "# orvane-project 1";
constexpr size_t kLineMax = 8192;  // longer lines are no project file

fs::path FolderOf(const std::string& projectPath) {
    return fs::absolute(fs::path(projectPath)).parent_path().lexically_normal();
}

// The path as written: relative to the project file's folder when it can be.
std::string Relative(const std::string& path, const fs::path& folder) {
    if (path.empty()) return path;
    const fs::path absolute = fs::absolute(fs::path(path)).lexically_normal();
    const fs::path relative = absolute.lexically_relative(folder);
    return relative.empty() ? absolute.string() : relative.string();
}

std::string Absolute(const std::string& written, const fs::path& folder) {
    if (written.empty()) return written;
    const fs::path p(written);
    return (p.is_absolute() ? p : folder / p).lexically_normal().string();
}

bool ParseInt(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string ProjectFilePath(const std::string& pointsPath) {
    return pointsPath + ".orvane";
}

int WriteProjectFile(const std::string& path, const ProjectFileData& data) {
    const fs::path folder = FolderOf(path);
    const std::pair<const char*, std::string> lines[] = {
        {"left-image", Relative(data.paths.leftImage, folder)},
        {"right-image", Relative(data.paths.rightImage, folder)},
        {"left-orientation", Relative(data.paths.leftOrientation, folder)},
        {"right-orientation", Relative(data.paths.rightOrientation, folder)},
        {"points", Relative(data.paths.matchedPoints, folder)},
        {"x-offset", std::to_string(data.xOffset)},
        {"y-offset", std::to_string(data.yOffset)},
        {"stereo", data.stereoMode},
    };
    return Platform::SaveFileAtomically(path, [&](FILE* file) {
        bool ok = std::fprintf(file, "%s\n", kFirstLine) > 0;
        for (const auto& [key, value] : lines) {
            // A line break in a value would end its line early.
            if (value.find_first_of("\r\n") != std::string::npos) return false;
            ok = ok && std::fprintf(file, "%s=%s\n", key, value.c_str()) > 0;
        }
        return ok;
    });
}

int ReadProjectFile(const std::string& path, ProjectFileData& data) {
    Platform::FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return kProjectFileMissing;
    const fs::path folder = FolderOf(path);
    ProjectFileData read = data;
    std::string line;
    bool first = true;
    for (int c = 0;;) {
        line.clear();
        while ((c = std::fgetc(file.get())) != EOF && c != '\n') {
            if (line.size() >= kLineMax) return kProjectFileMalformed;
            line.push_back(static_cast<char>(c));
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first) {
            if (line != kFirstLine) return kProjectFileMalformed;
            first = false;
        } else if (!line.empty() && line[0] != '#') {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) return kProjectFileMalformed;
            const std::string key = line.substr(0, eq);
            const std::string value = line.substr(eq + 1);
            if (key == "left-image")
                read.paths.leftImage = Absolute(value, folder);
            else if (key == "right-image")
                read.paths.rightImage = Absolute(value, folder);
            else if (key == "left-orientation")
                read.paths.leftOrientation = Absolute(value, folder);
            else if (key == "right-orientation")
                read.paths.rightOrientation = Absolute(value, folder);
            else if (key == "points")
                read.paths.matchedPoints = Absolute(value, folder);
            else if (key == "x-offset" && !ParseInt(value, read.xOffset))
                return kProjectFileMalformed;
            else if (key == "y-offset" && !ParseInt(value, read.yOffset))
                return kProjectFileMalformed;
            else if (key == "stereo")
                read.stereoMode = value;
        }
        if (c == EOF) break;
    }
    if (first || std::ferror(file.get())) return kProjectFileMalformed;
    data = read;
    return 1;
}
