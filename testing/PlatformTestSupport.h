// Files for the tests of the core libraries and tools: a private temporary
// folder removed with all it holds, whole files read and written as bytes or
// as a string, and a file size limit under which writes fail as on a full
// disk. POSIX; header only, independent of the test framework.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace platformtest {

// A new folder <prefix>_XXXXXX in the system's temporary folder ($TMPDIR,
// else /tmp) with permission bits `mode` (0755 lets a test process running
// as another user reach the files), removed with its contents when the
// object goes, folders a test made read-only included. The temporary folder
// of the tests below the Qt layers (those use QTemporaryDir) and of the
// benchmarks. Path() is empty when no folder could be made.
class TempDir {
public:
    explicit TempDir(const std::string& prefix, mode_t mode = 0700) {
        std::error_code noTemp;
        std::filesystem::path base = std::filesystem::temp_directory_path(noTemp);
        if (noTemp) base = "/tmp";
        std::string pattern = (base / (prefix + "_XXXXXX")).string();
        if (mkdtemp(pattern.data())) {
            m_path = pattern;
            chmod(m_path.c_str(), mode);
        }
    }
    ~TempDir() {
        if (m_path.empty()) return;
        namespace fs = std::filesystem;
        // Without write and search permission a folder's entries cannot be
        // removed; links are not followed out of the folder.
        std::error_code walking;
        for (fs::recursive_directory_iterator it(m_path, walking), end; !walking && it != end;
             it.increment(walking)) {
            std::error_code ignored;
            if (it->symlink_status(ignored).type() == fs::file_type::directory)
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Writes `bytes` as the file `name` inside the folder; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    // The names in the folder, sorted (to see that nothing stray was left).
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

// The bytes of a file (none when it cannot be read).
inline std::vector<unsigned char> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Writes `data` as the whole file.
inline void Spit(const std::string& path, const std::vector<unsigned char>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

// The bytes of a file as a string (empty when it cannot be read).
inline std::string SlurpText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes `bytes` as the whole file.
inline void SpitText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = *this / name;
    SpitText(path, bytes);
    return path;
}

// Lowers this process's file size limit to `bytes` while it lives. A write
// beyond it fails with EFBIG, as on a full disk, with SIGXFSZ ignored
// meanwhile; or, with Beyond::kKills, SIGXFSZ's default action ends the
// process inside that write (a save killed half way).
class FileSizeLimit {
public:
    enum class Beyond { kFails, kKills };

    explicit FileSizeLimit(rlim_t bytes, Beyond beyond = Beyond::kFails) {
        m_oldHandler = signal(SIGXFSZ, beyond == Beyond::kFails ? SIG_IGN : SIG_DFL);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    sighandler_t m_oldHandler;
};

// What a command-line tool's entry point returned and printed.
struct ToolRun {
    int status = 0;
    std::string out, err;
};

// Everything written to `file` since it was opened (it stays open).
inline std::string ReadBack(FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    return text;
}

// Runs run(out, err) with both streams in temporary files read back after;
// `out` instead when given (a full device, say), whose output is not read.
template <class F>
ToolRun RunCaptured(F run, FILE* out = nullptr) {
    FILE* own = out ? nullptr : std::tmpfile();
    FILE* err = std::tmpfile();
    ToolRun r;
    r.status = run(out ? out : own, err);
    if (own) r.out = ReadBack(own);
    r.err = ReadBack(err);
    if (own) std::fclose(own);
    std::fclose(err);
    return r;
}

}  // namespace platformtest
