// Lining the two photographs of the pair up on the screen.
//
// The stereo view draws the left photograph at its sub-image pixels (logical
// coordinates) and the right one shifted by (xOffset to the right, yOffset
// upwards). Two images of one ground point coincide on the screen when the
// offsets equal the difference of its sub-image positions; the pair then
// fuses at that point's height and the floating mark at zero parallax sits on
// that height.
#pragma once

class CAerialPhoto;
class CTINPoints;

// Median Z of the live records (id >= 0) of a ground set; NaN when there is none.
double MedianHeight(const CTINPoints& ground);

// The ground point (X, Y at height Z) seen at left sub-image pixel (column,
// row), and the right sub-image pixel that shows it (NaN when it does not
// project into the right photograph). 1, or -1 (outputs unchanged) when the
// pixel's ray does not meet the height.
int SeenAtLeftPixel(const CAerialPhoto& left, const CAerialPhoto& right, double column, double row,
                    double Z, double& X, double& Y, double& rightColumn, double& rightRow);

// Offsets that make the ground point seen at left sub-image pixel (column,
// row), at height Z, appear at the same screen position in both photographs:
// xOffset = left column - right column, yOffset = right row - left row (sub-
// image pixels, rounded). 1, or -1 (offsets unchanged) when the pixel's ray
// does not meet the height or the point does not project into the right photograph.
int FusingOffsets(const CAerialPhoto& left, const CAerialPhoto& right, double column, double row,
                  double Z, int& xOffset, int& yOffset);
