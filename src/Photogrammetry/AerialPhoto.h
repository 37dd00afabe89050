// One aerial photograph of the image pair: its sub-image, its interior and
// exterior orientation read from an orientation file (.ORN), the 3 x 3
// matrices derived from them, and the per-photograph state of the editing view
// (image-point set, selection, polygon, display window).
//
// Coordinate systems:
//   ground        X, Y, Z in the unit of the points file; Z is height.
//   scanned image column, row in pixels of the whole scanned photograph; the
//                 orientation file and every matrix below refer to it.
//   sub-image     column, row in pixels of the loaded LAN image (row 0 at the
//                 top): scanned-image position minus the header's x start and
//                 y start. Image-point sets, the display window, picking and
//                 polygons use it.
//   photo         x, y in the focal plane, origin at the principal point,
//                 z = -f; unit of the focal length.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Numerics/LinearAlgebra.h"
#include "TIN/TINPoints.h"
#include "erdasimg/erdasimg.h"

class CAerialPhoto {
public:
    CAerialPhoto();
    virtual ~CAerialPhoto();
    CAerialPhoto(const CAerialPhoto&) = delete;
    CAerialPhoto& operator=(const CAerialPhoto&) = delete;

    // --- Orientation file -------------------------------------------------
    // Reads an orientation file (text): three header words, f, Xs Ys Zs,
    // omega phi kappa (degrees), three ignored numbers, a1 a2 a0, b1 b2 b0,
    // x0 y0; then forms A, A^-1, M and G. 1 on success. -1 (and the photograph
    // exactly as it was) for an empty path, a file that cannot be opened, a
    // file that ends early or holds a token that is not a number, a header word
    // longer than 511 characters, a value that is not finite, or a singular
    // interior matrix. No message box; the reason goes to the debug trace.
    int ReadOrientation(const std::string& path);
    // The same from an open text stream, read from its current position; -1 for
    // a null stream. Also forms A^-1, M and G, so a photograph is never left with
    // matrices from two different files. The stream is not closed.
    int ReadOrientation(FILE* stream);
    // Forms m_ppRotation (M) from m_dOmega, m_dPhi, m_dKappa.
    void ComputeRotation();

    // --- Projection and intersection ---------------------------------------
    // Collinearity equations: ground (X, Y, Z) to scanned-image column and row.
    // 1; -1 when the point lies in the plane through the projection centre
    // parallel to the image plane (w = 0), the result is not finite, or the
    // photograph has no matrices: column and row are then NaN, which the grid
    // index treats as outside every cell.
    int GroundToImage(double X, double Y, double Z, double& column, double& row) const;
    // Scanned-image (column, row) to the photo vector photo[0..2] = (x, y, -f).
    int ImageToPhoto(double column, double row, double* photo) const;
    // Intersects the ray of photo vector (photo.x, photo.y, -f) with the plane
    // of height Z: ground X, Y. 1; -1 with X, Y NaN when the ray is parallel to
    // the plane or the result is not finite. Callers must not store such a point.
    int PhotoToGround(const TINPoint& photo, double Z, double& X, double& Y) const;
    // Scanned-image pixel[0], pixel[1] (a third element, if any, is not read) and
    // height *Z to ground X, Y. Results as PhotoToGround.
    int ImageToGround(const double* pixel, const double* Z, double& X, double& Y) const;
    // Changes the point's height by dZ while keeping it on its ray through this
    // photograph (its pixel here stays fixed). 1; -1 and the point unchanged when
    // the point is at the height of the projection centre or the result is not finite.
    int MoveAlongRay(TINPoint& point, double dZ) const;
    // Rebuilds m_pImagePoints: one record per ground point at the same index
    // (id, sub-image column, sub-image row; NaN position when not projectable),
    // bounds = projected extent box (and every projected record) widened by
    // 1000 pixels, spacing = whole pixels of one ground spacing step. Does not
    // build the grid index. 1, or -1 when the set cannot be allocated
    // (m_pImagePoints is then an empty set).
    int ProjectAll(const CTINPoints& ground);
    // Re-projects one ground point into record `index` of m_pImagePoints (id
    // and position) through the set's MovePoint, so that the set's grid index
    // follows the point: a point that stops projecting leaves the index, one
    // that projects again returns to it. 1; -1 when there is no image-point set
    // or the index is outside it, and also when the point does not project
    // (the record is then stored with a NaN position).
    int UpdateImagePoint(const TINPoint& point, int index);

    // x start and y start of the image header (low 16 bits, signed): add them to
    // a sub-image position to get the scanned-image position.
    double GetXStart() const;
    double GetYStart() const;
    // Sub-image pixel (column, row of the loaded image) to scanned-image pixel
    // (of the whole scanned photograph, as the orientation uses) and back.
    void SubImageToScanned(double column, double row, double& scannedColumn,
                           double& scannedRow) const;
    void ScannedToSubImage(double scannedColumn, double scannedRow, double& column,
                           double& row) const;

    // --- Selection and polygon (sub-image pixels) ---------------------------
    void ClearSelection();
    // Appends a copy of image-point record `index` to m_selection. 1, or -1 (and
    // nothing appended) when there is no image-point set or the index is outside it.
    int SelectImagePoint(int index);
    // Index of the nearest image point within radius (the set's FindNearest), or
    // -1 when there is none or no image-point set.
    int FindImagePoint(int column, int row, double radius) const;
    // Appends a copy of the nearest image point within tolerance to m_polygon.
    // Its index, or -1 when nothing was found (nothing appended).
    int AddPolygonVertex(int column, int row, double tolerance);
    // Appends a copy of the first vertex when the polygon is not empty.
    void ClosePolygon();
    // Appends every vertex of the closed polygon and then the image point of
    // every non-negative id inside it (the set's SelectInShape, which counts
    // the outline as inside) that is not one of the vertices to m_selection.
    // Number of entries appended.
    int SelectInsidePolygon(const std::vector<TINPoint>& polygon);
    // Appends every entry of m_selection to `list`.
    void CopySelectionTo(std::vector<TINPoint>& list) const;
    void AddToSelection(const TINPoint& record);

    // --- Display window --------------------------------------------------
    // Updates the display window for offsets (xOffset right, yOffset up), the
    // visible rectangle (logical coordinates) and the scene height; raises
    // m_bWindowChanged when any of the four bounds changed, lowers it otherwise. 1.
    int ComputeWindow(int xOffset, int yOffset, int left, int top, int right, int bottom,
                      int sceneHeight);
    // The window copy, bottom row first: extracted anew when m_bWindowChanged is
    // raised, the previous copy otherwise. Null when the image holds no data or
    // the window is empty (scrolled wholly off the image).
    unsigned char** GetDisplayBuffer();
    // Forgets the window bounds so that the next ComputeWindow reports a change
    // (call after reading a new image into m_image).
    void InvalidateWindow();
    // The contrast stretch of this photograph (m_greyMap) from the grey values
    // of its whole band 0: the identity ramp i / 255, stretched min-max over
    // the range the band shows. Every view draws the photograph through it, so
    // the left and the right photograph each keep their own contrast.
    void ComputeGreyMap();

    // --- Data (public: the document and the view read them directly) -------
    std::string m_strImagePath;
    double m_dFocalLength = 0.0;
    double m_dPrincipalX = 0.0;
    double m_dPrincipalY = 0.0;
    CMatrix m_ppInterior;     // A: scanned-image (column, row, 1) to photo (x - x0, y - y0, -f)
    CMatrix m_ppInteriorInv;  // A^-1
    double m_dOmega = 0.0;    // radians
    double m_dPhi = 0.0;
    double m_dKappa = 0.0;
    double m_dXs = 0.0;  // projection centre, ground
    double m_dYs = 0.0;
    double m_dZs = 0.0;
    CMatrix m_ppRotation;       // M: ground axes to photo axes
    CMatrix m_ppGroundToImage;  // G = A^-1 . M: ground offset to scanned image (homogeneous)
    CErdasImage m_image;
    // Display window: raster position of its lower-left pixel (GL window
    // coordinates), first/last column, first/last row counted from the bottom.
    int m_nRasterX = 0;
    int m_nRasterY = 0;
    int m_nFirstRow = -1;
    int m_nLastRow = -1;
    int m_nFirstCol = -1;
    int m_nLastCol = -1;
    bool m_bWindowChanged = true;
    std::array<float, 256> m_greyMap{};          // 8-bit sample value -> grey level 0..1
    std::unique_ptr<CTINPoints> m_pImagePoints;  // ground points in sub-image pixels
    std::vector<TINPoint> m_selection;
    std::vector<TINPoint> m_polygon;
};
