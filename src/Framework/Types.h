// Small value types and input codes shared by the framework, the views and the
// rubber band. Header only and free of Qt so that GL-only code can use it.
//
// Points and rectangles are in whatever system their user states: client pixels
// (y down from the top of the client area), logical units (client pixels plus the
// scroll position) or GL window coordinates (y up from the bottom edge).
#pragma once

#include <cstdint>

struct CPoint {
    int32_t x = 0;
    int32_t y = 0;
    constexpr CPoint() = default;
    constexpr CPoint(int32_t px, int32_t py) : x(px), y(py) {}
    friend constexpr bool operator==(const CPoint&, const CPoint&) = default;
};

struct CSize {
    int32_t cx = 0;
    int32_t cy = 0;
    constexpr CSize() = default;
    constexpr CSize(int32_t w, int32_t h) : cx(w), cy(h) {}
    friend constexpr bool operator==(const CSize&, const CSize&) = default;
};

// Rectangle by its edges; right and bottom are exclusive for client rectangles
// (GetClientRect) and as given for rubber-band rectangles (not normalised).
struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    constexpr CRect() = default;
    constexpr CRect(int32_t l, int32_t t, int32_t r, int32_t b)
        : left(l), top(t), right(r), bottom(b) {}
    constexpr int32_t Width() const { return right - left; }
    constexpr int32_t Height() const { return bottom - top; }
    // True when the rectangle has no area as it stands (width or height <= 0).
    constexpr bool IsRectEmpty() const { return right <= left || bottom <= top; }
    // True when all four edges are zero.
    constexpr bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    constexpr void NormalizeRect() {
        if (left > right) {
            int32_t t = left;
            left = right;
            right = t;
        }
        if (top > bottom) {
            int32_t t = top;
            top = bottom;
            bottom = t;
        }
    }
    constexpr void OffsetRect(int32_t dx, int32_t dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    constexpr CPoint TopLeft() const { return {left, top}; }
    constexpr CPoint BottomRight() const { return {right, bottom}; }
    friend constexpr bool operator==(const CRect&, const CRect&) = default;
};

// Mouse-message key flags (the "flags" argument of the mouse handlers).
constexpr unsigned int MK_LBUTTON = 0x0001;
constexpr unsigned int MK_RBUTTON = 0x0002;
constexpr unsigned int MK_SHIFT = 0x0004;
constexpr unsigned int MK_CONTROL = 0x0008;
constexpr unsigned int MK_MBUTTON = 0x0010;

// Virtual key codes handed to OnKeyDown. Letters and digits are their upper-case
// ASCII codes ('A'..'Z', '0'..'9').
constexpr unsigned int VK_BACK = 0x08;
constexpr unsigned int VK_TAB = 0x09;
constexpr unsigned int VK_RETURN = 0x0D;
constexpr unsigned int VK_SHIFT = 0x10;
constexpr unsigned int VK_CONTROL = 0x11;
constexpr unsigned int VK_MENU = 0x12;
constexpr unsigned int VK_ESCAPE = 0x1B;
constexpr unsigned int VK_SPACE = 0x20;
constexpr unsigned int VK_PRIOR = 0x21;
constexpr unsigned int VK_NEXT = 0x22;
constexpr unsigned int VK_END = 0x23;
constexpr unsigned int VK_HOME = 0x24;
constexpr unsigned int VK_LEFT = 0x25;
constexpr unsigned int VK_UP = 0x26;
constexpr unsigned int VK_RIGHT = 0x27;
constexpr unsigned int VK_DOWN = 0x28;
constexpr unsigned int VK_INSERT = 0x2D;
constexpr unsigned int VK_DELETE = 0x2E;
constexpr unsigned int VK_F1 = 0x70;  // VK_F1 + n - 1 for Fn, up to F24
constexpr unsigned int VK_UNKNOWN = 0xFF;

// Answers of the three-way save prompt.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
