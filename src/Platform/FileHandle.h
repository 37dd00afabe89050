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

// Bytes from the stream's position to its end, or -1 when that cannot be
// told; the position is left where it was. Sizes read from a file are
// checked against it before anything is allocated for them.
int64_t BytesRemaining(FILE* file);

}  // namespace Platform
