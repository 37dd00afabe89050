#include "Platform/Platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Platform/FileHandle.h"

namespace Platform {
namespace {

void DefaultMessage(const std::string& text, MessageKind kind) {
    std::fprintf(stderr, "%s%s\n", kind == MessageKind::Exclamation ? "[!] " : "", text.c_str());
}

void DefaultTrace(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}

MessageSink& MessageSinkSlot() {
    static MessageSink sink = DefaultMessage;
    return sink;
}

TraceSink& TraceSinkSlot() {
    static TraceSink sink = DefaultTrace;
    return sink;
}

}  // namespace

void ShowMessage(const std::string& text, MessageKind kind) {
    MessageSinkSlot()(text, kind);
}

void DebugTrace(const std::string& text) {
    TraceSinkSlot()(text);
}

MessageSink SetMessageSink(MessageSink sink) {
    MessageSink previous = std::move(MessageSinkSlot());
    MessageSinkSlot() = sink ? std::move(sink) : MessageSink(DefaultMessage);
    return previous;
}

TraceSink SetTraceSink(TraceSink sink) {
    TraceSink previous = std::move(TraceSinkSlot());
    TraceSinkSlot() = sink ? std::move(sink) : TraceSink(DefaultTrace);
    return previous;
}

ScopedMessageCapture::ScopedMessageCapture() {
    m_previousMessage = SetMessageSink([this](const std::string& text, MessageKind kind) {
        m_messages.push_back({text, kind});
    });
    m_previousTrace = SetTraceSink([this](const std::string& text) { m_traces.push_back(text); });
}

ScopedMessageCapture::~ScopedMessageCapture() {
    SetMessageSink(std::move(m_previousMessage));
    SetTraceSink(std::move(m_previousTrace));
}

std::vector<std::string> ScopedMessageCapture::Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : m_messages) texts.push_back(m.text);
    return texts;
}

void ScopedMessageCapture::Clear() {
    m_messages.clear();
    m_traces.clear();
}

}  // namespace Platform

namespace Platform {

int64_t BytesRemaining(FILE* file) {
    const off_t position = ftello(file);
    if (position < 0) return -1;
    struct stat info {};
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
        return std::max<int64_t>(0, int64_t(info.st_size) - int64_t(position));
    }
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(file);
    if (fseeko(file, position, SEEK_SET) != 0 || end < 0) return -1;
    return std::max<int64_t>(0, int64_t(end) - int64_t(position));
}

std::string NotARegularFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISREG(info.st_mode)) return std::string();
    if (S_ISDIR(info.st_mode)) return "it is a folder";
    if (S_ISFIFO(info.st_mode)) return "it is a named pipe (FIFO)";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "it is a device";
    if (S_ISSOCK(info.st_mode)) return "it is a socket";
    return "it is not a regular file";
}

FilePtr OpenRegularFile(const std::string& path, const char* mode) {
    // Looked at before it is opened (opening a tape or a pipe may itself do
    // something), and again once open, in case the name was replaced between.
    struct stat named {};
    if (stat(path.c_str(), &named) != 0) return FilePtr();
    if (!S_ISREG(named.st_mode)) {
        errno = S_ISDIR(named.st_mode) ? EISDIR : EINVAL;
        return FilePtr();
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return FilePtr();
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        errno = EINVAL;
        return FilePtr();
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* file = fdopen(fd, mode);
    if (!file) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return FilePtr(file);
}

}  // namespace Platform
