// Shared by the benchmarks and measurement programs: clocks, scratch file
// names, malloc'ed buffers and the noise that fills generated test images.
// Plain C++ and POSIX; the Google Benchmark parts are in BenchReport.h.
#pragma once

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Wall-clock seconds from a to b.
inline double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of this thread, seconds: on a machine shared with other
// work, time spent waiting for a core is not counted against either side.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Processor time of the whole process (all threads), seconds: on a shared
// machine it shows the work done where the wall-clock time also shows waiting.
inline double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// "/tmp/<program>_<pid>": the stem of a program's scratch files, so that two
// runs at once do not meet.
inline std::string TempStem(const std::string& program) {
    return "/tmp/" + program + "_" + std::to_string(getpid());
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// n bytes of fresh memory from malloc, as a loader gets it (its pages are not
// touched yet).
using MallocBuffer = std::unique_ptr<unsigned char, FreeDeleter>;
inline MallocBuffer Allocate(size_t n) {
    return MallocBuffer(static_cast<unsigned char*>(std::malloc(n)));
}

// Fills n bytes with xorshift32 noise (the top byte of each state), going on
// from `state`: image samples that do not compress and repeat nowhere.
inline void FillNoise(unsigned char* out, size_t n, uint32_t& state) {
    uint32_t x = state;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<unsigned char>(x >> 24);
    }
    state = x;
}

// The records of a first..end-1 square block of a side x side lattice
// numbered row by row: a selected area.
inline std::vector<int> LatticeBlock(int side, int first, int end) {
    std::vector<int> block;
    for (int r = first; r < end; ++r) {
        for (int c = first; c < end; ++c) block.push_back(r * side + c);
    }
    return block;
}

}  // namespace bench
