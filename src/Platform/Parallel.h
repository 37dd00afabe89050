// Runs independent work items on a few threads (the check ranking, the demo
// project generator).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace Platform {

// Threads to use for `requested` threads: `requested` when above 0, else every
// hardware thread but at most `most` (1 when the count is unknown).
inline int ThreadCount(int requested, unsigned most) {
    if (requested > 0) return requested;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(std::min(hw, std::max(most, 1u)));
}

// Runs work(i) for i = 0 .. count-1 on up to `threads` threads (the calling
// thread included). Items must be independent, so the result does not depend
// on how they are shared out. Fewer threads are used when they cannot be
// started: the calling thread then does the rest.
template <typename Work>
void RunParallel(int64_t count, int threads, const Work& work) {
    std::atomic<int64_t> next{0};
    auto loop = [&]() {
        for (int64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) work(i);
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads && t < count; ++t) {
        try {
            helpers.emplace_back(loop);
        } catch (const std::system_error&) {
            break;
        }
    }
    loop();
    for (std::thread& h : helpers) h.join();
}

}  // namespace Platform
