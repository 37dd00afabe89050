// Runs independent work items on a few threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace checking {

// Threads to use for `requested` (0: every hardware thread, at most 16).
inline int ThreadCount(int requested) {
    if (requested > 0) return requested;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(std::min(hw, 16u));
}

// Runs work(i) for i = 0 .. count-1 on up to `threads` threads (the calling
// thread included). Items must be independent, so the result does not depend
// on how they are shared out. Fewer threads are used when they cannot be started.
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

}  // namespace checking
