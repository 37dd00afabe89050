// Offset-indexed work arrays: vectors whose index range nl..nh is chosen by the
// caller, with a fatal error routine for allocation failure.
//
// The vector returned by ivector(nl, nh) gives access to exactly nh - nl + 1
// ints through the indices nl..nh; element nl is the first element of the block
// taken from the runtime heap. release_ivector frees that block again and must
// be given the same lower bound. CIntVector is the owning form used inside the
// library, so that no caller pairs the two calls by hand.
#pragma once

#include <memory>

// Ints over nl..nh, contents not set. Never returns null: an empty or overflowing
// range, or a failed allocation, ends the process through numeric_error.
int* ivector(int nl, int nh);

// Frees a vector from ivector; nl must be the lower bound it was allocated with.
// nh is not needed. Null is ignored.
void release_ivector(int* v, int nl, int nh);

// Writes the three-line run-time error report to standard error, then ends the
// process with exit status 1.
[[noreturn]] void numeric_error(const char* message);

// Owner of one ivector; indexes like the raw vector (nl..nh).
class CIntVector {
public:
    CIntVector(int nl, int nh) : m_nLow(nl), m_nHigh(nh), m_p(ivector(nl, nh)) {}
    ~CIntVector() { release_ivector(m_p, m_nLow, m_nHigh); }
    CIntVector(const CIntVector&) = delete;
    CIntVector& operator=(const CIntVector&) = delete;

    int& operator[](int i) { return m_p[i]; }
    int operator[](int i) const { return m_p[i]; }
    int* get() const { return m_p; }

private:
    int m_nLow;
    int m_nHigh;
    int* m_p;
};
