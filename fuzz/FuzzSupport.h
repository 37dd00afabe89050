// Shared by the fuzz targets: readers take a FILE*, so the input bytes are
// handed over through an in-memory stream, and messages are swallowed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Platform/FileHandle.h"
#include "Platform/Platform.h"

using Platform::FilePtr;

// The bytes are copied so that the stream has a buffer of its own (never a
// null pointer, even for an empty input: glibc opens a zero-length stream).
inline FilePtr OpenBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& storage,
                         const char* mode) {
    storage.assign(data, data + size);
    storage.push_back(0);
    return FilePtr(fmemopen(storage.data(), size, mode));
}

inline void SilenceMessages() {
    static bool done = false;
    if (done) return;
    done = true;
    Platform::SetMessageSink([](const std::string&, Platform::MessageKind) {});
    Platform::SetTraceSink([](const std::string&) {});
}
