#include "Platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "Platform/FileHandle.h"

namespace Platform {
namespace {

constexpr char kTemporaryMark[] = ".orvane-save-";
constexpr size_t kRandomLength = 6;  // the XXXXXX of mkostemp
constexpr int kMaxLinks = 40;        // as the kernel's own limit on link chains
constexpr size_t kStemBytes = 200;   // of the file's name kept in a temporary's name

// Folder and file name of a path ("." for a bare name).
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        folder.assign(1, '.');
        name = path;
    } else {
        folder.assign(path, 0, slash == 0 ? 1 : slash);
        name.assign(path, slash + 1, std::string::npos);
    }
}

std::string Join(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

bool IsRandomPart(const char* text) {
    for (size_t i = 0; i < kRandomLength; ++i) {
        const char c = text[i];
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    return text[kRandomLength] == '\0';
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes a descriptor when it goes.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int fd = -1) : m_fd(fd) {}
    ~ScopedDescriptor() { Reset(); }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Creates the temporary for `target` (in `folder`, named after `name`) and locks it. The lock is
// taken after the file exists, so a cleaner may remove it in between (it is unlocked for that
// moment); the name is then checked to still be this file, and a new one is made otherwise. The
// descriptor, or -1 with errno set.
int CreateLockedTemporary(const std::string& folder, const std::string& name,
                          std::string& temporary) {
    const std::string stem = Join(folder, SaveTemporaryStem(name));
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string pattern = stem + kTemporaryMark + std::string(kRandomLength, 'X');
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX) != 0) {
            const int error = errno;
            unlink(name.data());
            close(fd);
            errno = error;
            return -1;
        }
        struct stat opened {};
        struct stat named {};
        if (fstat(fd, &opened) == 0 && opened.st_nlink > 0 && lstat(name.data(), &named) == 0 &&
            SameFile(opened, named)) {
            temporary = name.data();
            return fd;
        }
        close(fd);
    }
    errno = EEXIST;
    return -1;
}

// The process's file mode creation mask. Read from /proc, because umask()
// can only read it by setting it, and another thread creating a file in
// between would get the wrong mode.
mode_t CurrentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Gives the temporary the old file's owner, group and permission bits (the
// owner first: changing it may clear set-id bits), or those of a new file.
void TakeOverAttributes(int fd, bool exists, const struct stat& old) {
    if (exists) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not allowed to give the file away: keep at least the group when
            // the process belongs to it.
            (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
        (void)!fchmod(fd, old.st_mode & 07777);
    } else {
        (void)!fchmod(fd, 0666 & ~CurrentUmask());
    }
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)!fsync(fd);
        close(fd);
    }
}

}  // namespace

std::string SaveTemporaryStem(const std::string& fileName) {
    // FNV-1a over every byte: names alike in their first 200 bytes still get
    // temporaries of their own (and clean-ups of their own).
    uint32_t hash = 2166136261u;
    for (const unsigned char c : fileName) hash = (hash ^ c) * 16777619u;
    size_t keep = std::min(fileName.size(), kStemBytes);
    // Not inside a UTF-8 sequence: back over its continuation bytes.
    if (keep < fileName.size())
        while (keep > 0 && (static_cast<unsigned char>(fileName[keep]) & 0xC0) == 0x80) --keep;
    char digits[10];
    std::snprintf(digits, sizeof digits, ".%08x", static_cast<unsigned>(hash));
    return fileName.substr(0, keep) + digits;
}

std::string SaveFailureReason(const SaveFailure& failure) {
    switch (failure.error) {
        case 0:
            return std::string();
        case EACCES:
        case EPERM:
        case EROFS:
            return failure.inFolder || failure.replacing
                       ? "The folder cannot be written; use File > Save As to save elsewhere."
                       : "The file cannot be written; use File > Save As to save elsewhere.";
        case ENOSPC:
            return "No space left on device.";
        case EDQUOT:
            return "The disk quota is exhausted.";
        case EFBIG:
            return "The file is larger than this system allows.";
        case ENAMETOOLONG:
            return "The file name is too long.";
        case EIO:
            return "The device reported an input/output error.";
        default: {
            std::string text = std::strerror(failure.error);
            if (!text.empty() && text.back() != '.') text.push_back('.');
            return text;
        }
    }
}

std::string SaveTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t length = readlink(current.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<size_t>(length) >= link.size()) break;
        const std::string next(link.data(), static_cast<size_t>(length));
        if (next[0] == '/') {
            current = next;
        } else {
            std::string folder, name;
            SplitPath(current, folder, name);
            current = Join(folder, next);
        }
    }
    return current;
}

int RemoveStaleSaveTemporaries(const std::string& path, time_t minimumAge) {
    std::string folder, name;
    SplitPath(SaveTarget(path), folder, name);
    if (name.empty()) return 0;
    const std::string prefix = SaveTemporaryStem(name) + kTemporaryMark;
    const time_t now = std::time(nullptr);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
    if (!dir) return -1;
    const int dirFd = dirfd(dir.get());
    int removed = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const char* entryName = entry->d_name;
        if (std::string(entryName).compare(0, prefix.size(), prefix) != 0 ||
            std::string(entryName).size() != prefix.size() + kRandomLength ||
            !IsRandomPart(entryName + prefix.size())) {
            continue;
        }
        ScopedDescriptor fd(
            openat(dirFd, entryName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.Get() < 0) continue;  // a link, or not ours to read
        struct stat opened {};
        if (fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
        // Another user's file, or one written to lately (a save whose lock
        // this file system does not show), is not certainly a dead save's.
        if (opened.st_uid != geteuid() || opened.st_mtime > now - minimumAge) continue;
        // A save in progress holds the lock; the lock of a process that died
        // went with it.
        if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat named {};
        if (fstatat(dirFd, entryName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(opened, named) && unlinkat(dirFd, entryName, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

int SaveFileAtomically(const std::string& path, const std::function<bool(FILE*)>& write,
                       SaveFailure* failure, SaveDurability durability) {
    SaveFailure ignored;
    SaveFailure& why = failure ? *failure : ignored;
    why = SaveFailure();
    auto refuse = [&why](int error) {
        why.error = error;
        return kSaveOpenError;
    };
    if (path.empty()) return refuse(ENOENT);
    const std::string target = SaveTarget(path);
    std::string folder, name;
    SplitPath(target, folder, name);
    if (name.empty()) return refuse(EISDIR);

    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode)) return refuse(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return refuse(errno);
    } else if (errno != ENOENT) {
        return refuse(errno);
    }
    RemoveStaleSaveTemporaries(target);

    std::string temporary;
    // Holds the lock until the temporary has been renamed or removed.
    ScopedDescriptor lock(CreateLockedTemporary(folder, name, temporary));
    if (lock.Get() < 0) {
        why.inFolder = true;
        return refuse(errno);
    }
    TakeOverAttributes(lock.Get(), exists, old);
    const int streamFd = fcntl(lock.Get(), F_DUPFD_CLOEXEC, 0);
    FilePtr stream(streamFd >= 0 ? fdopen(streamFd, "wb") : nullptr);
    if (!stream) {
        const int error = errno;
        if (streamFd >= 0) close(streamFd);
        unlink(temporary.c_str());
        return refuse(error);
    }

    // Each step runs even after a failure (the stream must be closed); the
    // reason kept is that of the first step that failed.
    bool ok = write(stream.get());
    // A writer that stopped at a failed write of the stream (a full disk)
    // left the system's reason in errno.
    if (!ok && std::ferror(stream.get())) why.error = errno;
    auto step = [&ok, &why](bool done) {
        if (!done && ok) why.error = errno;
        ok = done && ok;
    };
    step(std::fflush(stream.get()) == 0);
    const bool durable = durability == SaveDurability::Durable;
    if (durable) step(fsync(fileno(stream.get())) == 0);
    step(std::fclose(stream.release()) == 0);
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        why.error = errno;
        why.replacing = true;
        ok = false;
    }
    if (!ok) {
        unlink(temporary.c_str());
        return kSaveWriteError;
    }
    if (durable) SyncFolder(folder);
    return 1;
}

}  // namespace Platform
