#include "Numerics/NumericArray.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The vector handed out is the block's address moved back by nl elements, so
// that v[nl] is the first element of the block. The move is done on the integer
// value of the address: the shifted pointer itself never points outside the
// block when it is formed by pointer arithmetic.
int* ivector(int nl, int nh) {
    const int64_t count = static_cast<int64_t>(nh) - static_cast<int64_t>(nl) + 1;
    if (count < 1 || count > static_cast<int64_t>(SIZE_MAX / sizeof(int))) {
        numeric_error("allocation failure in ivector()");
    }
    void* block = std::malloc(static_cast<size_t>(count) * sizeof(int));
    if (block == nullptr) {
        numeric_error("allocation failure in ivector()");
    }
    const uintptr_t base =
        reinterpret_cast<uintptr_t>(block) -
        static_cast<uintptr_t>(static_cast<intptr_t>(nl) * static_cast<intptr_t>(sizeof(int)));
    return reinterpret_cast<int*>(base);
}

void release_ivector(int* v, int nl, int /*nh*/) {
    if (v == nullptr) {
        return;
    }
    const uintptr_t block =
        reinterpret_cast<uintptr_t>(v) +
        static_cast<uintptr_t>(static_cast<intptr_t>(nl) * static_cast<intptr_t>(sizeof(int)));
    std::free(reinterpret_cast<void*>(block));
}

void numeric_error(const char* message) {
    std::fprintf(stderr, "Numerical Recipes run-time error...\n");
    std::fprintf(stderr, "%s\n", message);
    std::fprintf(stderr, "...now exiting to system...\n");
    std::exit(1);
}
