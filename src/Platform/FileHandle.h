// Owning handle for a C byte stream: the stream is closed when the handle is
// destroyed or reset. Shared by every core library, tool, benchmark and test
// that opens files, so that no early return leaves a stream open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace Platform {

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};

using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens `path` with an fopen mode ("rb", "wb", "r" ...); empty when it cannot
// be opened.
inline FilePtr OpenFile(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode));
}

// Why `path` is not a regular file to read (symbolic links followed): empty
// when it is one; otherwise a reason for a message that names the file
// first: "it is a folder", "it is a named pipe (FIFO)", "it is a device",
// "it is a socket", or the system's reason ("No such file or directory").
std::string NotARegularFile(const std::string& path);

// Opens `path` for reading ("rb" or "r") only when it names a regular file
// (links followed): a folder, named pipe, device or socket is refused before
// anything is read from it (errno EISDIR for a folder, EINVAL for the
// others), so that no input can block the program or feed it without end.
// Empty when refused or when it cannot be opened.
FilePtr OpenRegularFile(const std::string& path, const char* mode = "rb");

// Bytes from the stream's position to its end, or -1 when that cannot be
// told; the position is left where it was. Sizes read from a file are
// checked against it before anything is allocated for them.
int64_t BytesRemaining(FILE* file);

}  // namespace Platform
