// Checked conversions of doubles to int: positions read from files or
// computed by projections may be NaN, infinite or far outside the int range,
// and a plain cast of such a value is undefined behaviour.
#pragma once

#include <climits>
#include <cmath>

namespace Platform {

// Truncates toward zero; false (out unchanged) when the result does not fit an int.
inline bool TruncToInt(double v, int& out) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return false;
    out = static_cast<int>(v);
    return true;
}

// Truncates toward zero, clamping to the int range; false for NaN.
inline bool TruncClamped(double v, int& out) {
    if (std::isnan(v)) return false;
    if (v <= static_cast<double>(INT_MIN)) {
        out = INT_MIN;
    } else if (v >= static_cast<double>(INT_MAX)) {
        out = INT_MAX;
    } else {
        out = static_cast<int>(v);
    }
    return true;
}

}  // namespace Platform
