// Helpers shared by the point file readers and writers of this library.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "PointIO/PointIO.h"

static_assert(std::endian::native == std::endian::little,
              "LAS and points files are little-endian, read and written in the machine's order");

namespace pointio {

// Shows "Cannot read points file PATH: REASON" (or write) and returns `result`.
int ReadError(const std::string& path, const std::string& reason, int result);
int WriteError(const std::string& path, const std::string& reason, int result);
// Why `path` could not be opened for reading, just after the attempt: what
// it is when it is no regular file, else the system's reason (errno).
std::string OpenFailure(const std::string& path);
// Shows why the last write failed (errno, or EIO when the failing call did
// not set it) and returns kPointsWriteFailed.
int WriteFailed(const std::string& path);

// Writes `path` through Platform::SaveFileAtomically (a temporary beside the
// target, renamed over it when complete; not synced to disk). `write` gets the open temporary and
// returns 1 when it wrote everything, or a PointIOResult it has shown. 1, the
// writer's result, or (shown with the system's reason) kPointsCannotOpen when
// no temporary can be created or the target may not be replaced,
// kPointsWriteFailed when flushing or closing it failed, kPointsRenameFailed
// when it cannot replace the target.
int SaveAtomically(const std::string& path, const std::function<int(FILE*)>& write);

// Calls f(record) for every live record (id >= 0) in order.
template <typename F>
void ForEachLive(const CTINPoints& points, F&& f) {
    const TINPoint* p = points.m_pPoints.get();
    const TINPoint* const end = p + std::max(points.GetCount(), 0);
    for (; p < end; ++p)
        if (p->id >= 0) f(*p);
}

int64_t CountLive(const CTINPoints& points);

// A set of n records numbered 0 .. n-1 with zero coordinates, swapped into
// `out`; false when n records cannot be allocated.
bool MakeSet(int n, CTINPoints& out);

// Derives the points header of a set just read and swaps it into `points`:
// 1, or kPointsOutOfRange (shown) when the extent is not finite.
int FinishImportedSet(const std::string& path, CTINPoints& set, CTINPoints& points);

// Size of an open file in bytes, or -1.
int64_t FileSize(FILE* file);

template <typename T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void Store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

}  // namespace pointio
