// Shared by the fuzz targets: readers take a FILE*, so the input bytes are
// handed over through an in-memory stream, and messages are swallowed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Platform/Platform.h"

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// fmemopen on a zero-length buffer is refused, so keep a private copy that
// always holds at least one byte and open only `size` of it.
inline FilePtr OpenBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& storage,
                         const char* mode) {
    storage.assign(data, data + size);
    storage.push_back(0);
    if (size == 0) return FilePtr(std::fmemopen(storage.data(), 1, mode));
    return FilePtr(std::fmemopen(storage.data(), size, mode));
}

inline void SilenceMessages() {
    static bool done = false;
    if (done) return;
    done = true;
    Platform::SetMessageSink([](const std::string&, Platform::MessageKind) {});
    Platform::SetTraceSink([](const std::string&) {});
}
