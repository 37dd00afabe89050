// Temporary beside the target, renamed over it when complete. See AtomicFile.h.
#include "PointIO/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

CAtomicFile::CAtomicFile(const std::string& target) : m_target(target) {
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path real = std::filesystem::weakly_canonical(target, ec);
        if (!ec) m_target = real.string();
    }
}

CAtomicFile::~CAtomicFile() {
    if (!m_committed) Discard();
}

void CAtomicFile::Discard() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
}

int CAtomicFile::Open() {
    Discard();
    if (::access(m_target.c_str(), F_OK) == 0 && ::access(m_target.c_str(), W_OK) != 0) {
        m_reason = std::strerror(errno);
        return -1;
    }
    // A name of its own beside the target: the same folder, so rename is atomic.
    static unsigned s_counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            m_target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++s_counter);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            m_reason = std::strerror(errno);
            return -1;
        }
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            m_reason = std::strerror(errno);
            ::close(fd);
            ::unlink(name.c_str());
            return -1;
        }
        m_temp = name;
        return 1;
    }
    m_reason = std::strerror(EEXIST);
    return -1;
}

int CAtomicFile::Commit() {
    if (!m_file) return -2;
    errno = 0;
    const bool written = std::ferror(m_file) == 0 && std::fflush(m_file) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!written || !closed) {
        m_reason = std::strerror(flushErrno ? flushErrno : errno ? errno : EIO);
        Discard();
        return -2;
    }
    if (std::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        m_reason = std::strerror(errno);
        Discard();
        return -3;
    }
    m_temp.clear();
    m_committed = true;
    return 1;
}
