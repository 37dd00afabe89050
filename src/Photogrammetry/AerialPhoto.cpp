#include "Photogrammetry/AerialPhoto.h"

#include <locale.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "Platform/FileHandle.h"
#include "Platform/Platform.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Scans numbers with the C locale's decimal point for as long as it lives,
// whatever locale the application has set (orientation files always use '.').
class ScopedCNumericLocale {
public:
    ScopedCNumericLocale() {
        m_c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        if (m_c != static_cast<locale_t>(nullptr)) {
            m_previous = uselocale(m_c);
        }
    }
    ~ScopedCNumericLocale() {
        if (m_c != static_cast<locale_t>(nullptr)) {
            uselocale(m_previous);
            freelocale(m_c);
        }
    }
    ScopedCNumericLocale(const ScopedCNumericLocale&) = delete;
    ScopedCNumericLocale& operator=(const ScopedCNumericLocale&) = delete;

private:
    locale_t m_c = static_cast<locale_t>(nullptr);
    locale_t m_previous = static_cast<locale_t>(nullptr);
};

bool AllFinite(const double* const* m, int rows, int columns) {
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            if (!std::isfinite(m[i][j])) {
                return false;
            }
        }
    }
    return true;
}

// M = R(kappa) . R(phi) . R(omega): ground axes to photo axes.
void FillRotation(double** m, double omega, double phi, double kappa) {
    const double so = std::sin(omega), co = std::cos(omega);
    const double sp = std::sin(phi), cp = std::cos(phi);
    const double sk = std::sin(kappa), ck = std::cos(kappa);
    m[0][0] = cp * ck;
    m[0][1] = sk * co + ck * sp * so;
    m[0][2] = sk * so - ck * sp * co;
    m[1][0] = -cp * sk;
    m[1][1] = ck * co - sk * sp * so;
    m[1][2] = ck * so + sk * sp * co;
    m[2][0] = sp;
    m[2][1] = -so * cp;
    m[2][2] = co * cp;
}

double DegreesToRadians(double degrees) {
    return degrees / 180 * 3.141592653589793;
}

// One header word of at most 511 characters; false at the end of the stream
// or when the word is longer (the rest of it is still in the stream).
bool ScanHeaderWord(FILE* stream) {
    char word[512];
    if (std::fscanf(stream, "%511s", word) != 1) {
        return false;
    }
    const int next = std::fgetc(stream);
    if (next == EOF) {
        return true;
    }
    std::ungetc(next, stream);
    return std::isspace(next) != 0;
}

// |trunc(d)| as a whole number of pixels; 0 when d is not finite or its integer
// part does not fit 32 bits.
double WholePixels(double d) {
    if (!(d > -2147483648.0 && d < 2147483648.0)) {
        return 0.0;
    }
    const int64_t whole = static_cast<int32_t>(d);
    return static_cast<double>(whole < 0 ? -whole : whole);
}

}  // namespace

CAerialPhoto::CAerialPhoto()
    : m_ppInterior(MakeMatrix(3, 3)),
      m_ppInteriorInv(MakeMatrix(3, 3)),
      m_ppRotation(MakeMatrix(3, 3)),
      m_ppGroundToImage(MakeMatrix(3, 3)) {
    for (int i = 0; i < 256; ++i)
        m_greyMap[static_cast<size_t>(i)] = static_cast<float>(i) / 255.0f;
    // Zeros until the first orientation is read: G = 0 makes every projection
    // report "not projectable" instead of using undefined values.
    for (CMatrix* m : {&m_ppInterior, &m_ppInteriorInv, &m_ppRotation, &m_ppGroundToImage}) {
        if (*m) {
            for (int i = 0; i < 9; ++i) {
                (*m)[0][i] = 0.0;
            }
        }
    }
}

CAerialPhoto::~CAerialPhoto() = default;

int CAerialPhoto::ReadOrientation(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    // A regular file only (a named pipe or a device would block or never
    // end), of a size an orientation file can have, with lines of a sane
    // length; read whole, then parsed from memory.
    constexpr int64_t kMaxBytes = 64 * 1024;
    constexpr size_t kMaxLine = 4096;
    Platform::FilePtr file = Platform::OpenRegularFile(path, "r");
    if (!file) {
        Platform::DebugTrace("ReadOrientation: " + path + ": " + Platform::NotARegularFile(path) +
                             "\n");
        return -1;
    }
    const int64_t size = Platform::BytesRemaining(file.get());
    if (size <= 0 || size > kMaxBytes) {
        Platform::DebugTrace("ReadOrientation: " + path + " is empty or larger than 64 kB\n");
        return -1;
    }
    std::vector<char> text(static_cast<size_t>(size));
    if (std::fread(text.data(), 1, text.size(), file.get()) != text.size()) return -1;
    file.reset();
    size_t line = 0;
    for (char c : text) {
        line = c == '\n' ? 0 : line + 1;
        if (line > kMaxLine) {
            Platform::DebugTrace("ReadOrientation: " + path + " has a line longer than 4096\n");
            return -1;
        }
    }
    Platform::FilePtr memory(fmemopen(text.data(), text.size(), "r"));
    if (!memory) return -1;
    return ReadOrientation(memory.get());
}

int CAerialPhoto::ReadOrientation(FILE* stream) {
    if (stream == nullptr) {
        return -1;
    }
    if (!m_ppInterior || !m_ppInteriorInv || !m_ppRotation || !m_ppGroundToImage) {
        return -1;
    }
    CMatrix interior = MakeMatrix(3, 3);
    CMatrix inverse = MakeMatrix(3, 3);
    CMatrix rhs = MakeMatrix(3, 3);
    CMatrix rotation = MakeMatrix(3, 3);
    CMatrix groundToImage = MakeMatrix(3, 3);
    if (!interior || !inverse || !rhs || !rotation || !groundToImage) {
        return -1;
    }

    // Items 1 to 8, all into temporaries: the photograph changes only when the
    // whole file has been read and checked.
    double f = 0.0, xs = 0.0, ys = 0.0, zs = 0.0, omega = 0.0, phi = 0.0, kappa = 0.0;
    double unused[3] = {0.0, 0.0, 0.0};
    double a[3] = {0.0, 0.0, 0.0};
    double b[3] = {0.0, 0.0, 0.0};
    double x0 = 0.0, y0 = 0.0;
    {
        ScopedCNumericLocale cLocale;
        for (int w = 0; w < 3; ++w) {
            if (!ScanHeaderWord(stream)) {
                Platform::DebugTrace("ReadOrientation: header missing or a word is too long\n");
                return -1;
            }
        }
        const bool complete =
            std::fscanf(stream, "%lf\n", &f) == 1 &&
            std::fscanf(stream, "%lf %lf %lf\n", &xs, &ys, &zs) == 3 &&
            std::fscanf(stream, "%lf %lf %lf\n", &omega, &phi, &kappa) == 3 &&
            std::fscanf(stream, "%lf %lf %lf\n", &unused[0], &unused[1], &unused[2]) == 3 &&
            std::fscanf(stream, "%lf %lf %lf\n", &a[0], &a[1], &a[2]) == 3 &&
            std::fscanf(stream, "%lf %lf %lf\n", &b[0], &b[1], &b[2]) == 3 &&
            std::fscanf(stream, "%lf %lf\n", &x0, &y0) == 2;
        if (!complete) {
            Platform::DebugTrace("ReadOrientation: the file ends early or holds a non-number\n");
            return -1;
        }
    }
    for (double v :
         {f, xs, ys, zs, omega, phi, kappa, a[0], a[1], a[2], b[0], b[1], b[2], x0, y0}) {
        if (!std::isfinite(v)) {
            Platform::DebugTrace("ReadOrientation: a value is not finite\n");
            return -1;
        }
    }

    // A maps the scanned-image pixel (column, row, 1) to the photo vector
    // (x - x0, y - y0, -f): the principal point is folded in here, once.
    interior[0][0] = a[0];
    interior[0][1] = a[1];
    interior[0][2] = a[2] - x0;
    interior[1][0] = b[0];
    interior[1][1] = b[1];
    interior[1][2] = b[2] - y0;
    interior[2][0] = 0.0;
    interior[2][1] = 0.0;
    interior[2][2] = -f;
    omega = DegreesToRadians(omega);
    phi = DegreesToRadians(phi);
    kappa = DegreesToRadians(kappa);

    CopyMatrix(inverse.get(), interior.get(), 3, 3, static_cast<int>(sizeof(double)));
    SetIdentity(rhs, 3);
    if (GaussJordan(inverse.get(), 3, rhs.get(), 3) < 0) {
        Platform::DebugTrace("ReadOrientation: the interior orientation matrix is singular\n");
        return -1;
    }
    FillRotation(rotation.get(), omega, phi, kappa);
    MultiplyMatrix(inverse.get(), rotation.get(), groundToImage.get(), 3, 3);
    if (!AllFinite(interior.get(), 3, 3) || !AllFinite(inverse.get(), 3, 3) ||
        !AllFinite(groundToImage.get(), 3, 3)) {
        Platform::DebugTrace("ReadOrientation: the orientation gives non-finite matrices\n");
        return -1;
    }

    // Commit.
    m_dFocalLength = f;
    m_dXs = xs;
    m_dYs = ys;
    m_dZs = zs;
    m_dOmega = omega;
    m_dPhi = phi;
    m_dKappa = kappa;
    m_dPrincipalX = x0;
    m_dPrincipalY = y0;
    const int bytes = static_cast<int>(sizeof(double));
    CopyMatrix(m_ppInterior.get(), interior.get(), 3, 3, bytes);
    CopyMatrix(m_ppInteriorInv.get(), inverse.get(), 3, 3, bytes);
    CopyMatrix(m_ppRotation.get(), rotation.get(), 3, 3, bytes);
    CopyMatrix(m_ppGroundToImage.get(), groundToImage.get(), 3, 3, bytes);
    return 1;
}

void CAerialPhoto::ComputeRotation() {
    if (m_ppRotation) {
        FillRotation(m_ppRotation.get(), m_dOmega, m_dPhi, m_dKappa);
    }
}

int CAerialPhoto::GroundToImage(double X, double Y, double Z, double& column, double& row) const {
    column = kNaN;
    row = kNaN;
    if (!m_ppGroundToImage) {
        return -1;
    }
    const double dx = X - m_dXs;
    const double dy = Y - m_dYs;
    const double dz = Z - m_dZs;
    const double* g0 = m_ppGroundToImage[0];
    const double* g1 = m_ppGroundToImage[1];
    const double* g2 = m_ppGroundToImage[2];
    const double u = g0[0] * dx + g0[1] * dy + g0[2] * dz;
    const double v = g1[0] * dx + g1[1] * dy + g1[2] * dz;
    const double w = g2[0] * dx + g2[1] * dy + g2[2] * dz;
    if (w == 0.0) {
        return -1;
    }
    const double c = u / w;
    const double r = v / w;
    if (!std::isfinite(c) || !std::isfinite(r)) {
        return -1;
    }
    column = c;
    row = r;
    return 1;
}

int CAerialPhoto::ImageToPhoto(double column, double row, double* photo) const {
    if (!m_ppInterior) {
        photo[0] = photo[1] = photo[2] = kNaN;
        return -1;
    }
    const double* a0 = m_ppInterior[0];
    const double* a1 = m_ppInterior[1];
    photo[0] = a0[0] * column + a0[1] * row + a0[2];
    photo[1] = a1[0] * column + a1[1] * row + a1[2];
    photo[2] = -m_dFocalLength;
    return 1;
}

int CAerialPhoto::PhotoToGround(const TINPoint& photo, double Z, double& X, double& Y) const {
    X = kNaN;
    Y = kNaN;
    if (!m_ppRotation) {
        return -1;
    }
    const double x = photo.x;
    const double y = photo.y;
    const double f = m_dFocalLength;
    double** m = m_ppRotation.get();
    // The photo vector (x, y, -f) turned back into ground axes (M transposed).
    const double u = m[0][0] * x + m[1][0] * y - m[2][0] * f;
    const double v = m[0][1] * x + m[1][1] * y - m[2][1] * f;
    const double w = m[0][2] * x + m[1][2] * y - m[2][2] * f;
    if (w == 0.0) {
        return -1;
    }
    const double s = (Z - m_dZs) / w;
    const double gx = s * u + m_dXs;
    const double gy = s * v + m_dYs;
    if (!std::isfinite(gx) || !std::isfinite(gy)) {
        return -1;
    }
    X = gx;
    Y = gy;
    return 1;
}

int CAerialPhoto::ImageToGround(const double* pixel, const double* Z, double& X, double& Y) const {
    X = kNaN;
    Y = kNaN;
    if (pixel == nullptr || Z == nullptr) {
        return -1;
    }
    double photo[3];
    if (ImageToPhoto(pixel[0], pixel[1], photo) < 0) {
        return -1;
    }
    TINPoint record;
    record.id = -1;
    record.x = photo[0];
    record.y = photo[1];
    record.z = 0.0;
    record.weight = 0.0;
    return PhotoToGround(record, *Z, X, Y);
}

int CAerialPhoto::MoveAlongRay(TINPoint& point, double dZ) const {
    if (dZ == 0.0) {
        return 1;
    }
    const double x = point.x;
    const double y = point.y;
    const double z = point.z;
    const double height = z - m_dZs;
    if (height == 0.0) {
        return -1;
    }
    const double g = dZ / height;
    const double nx = x + (x - m_dXs) * g;
    const double ny = y + (y - m_dYs) * g;
    const double nz = z + dZ;
    if (!std::isfinite(nx) || !std::isfinite(ny) || !std::isfinite(nz)) {
        return -1;
    }
    point.x = nx;
    point.y = ny;
    point.z = nz;
    return 1;
}

double CAerialPhoto::GetXStart() const {
    const auto low = static_cast<uint16_t>(static_cast<uint32_t>(m_image.GetHeader().xstart));
    return static_cast<double>(static_cast<int16_t>(low));
}

double CAerialPhoto::GetYStart() const {
    const auto low = static_cast<uint16_t>(static_cast<uint32_t>(m_image.GetHeader().ystart));
    return static_cast<double>(static_cast<int16_t>(low));
}

int CAerialPhoto::ProjectAll(const CTINPoints& ground) {
    const int n = ground.GetCount();
    m_pImagePoints.reset();
    m_pImagePoints = n > 0 ? std::make_unique<CTINPoints>(n) : std::make_unique<CTINPoints>();
    CTINPoints& image = *m_pImagePoints;
    if (image.GetCount() != n) {
        Platform::DebugTrace("ProjectAll: the image-point set cannot be allocated\n");
        return -1;  // an empty set: nothing is indexed, drawn or picked
    }
    const double xStart = GetXStart();
    const double yStart = GetYStart();

    // Range of the projected records (scanned image), for the bounds below.
    double pointMinX = std::numeric_limits<double>::infinity();
    double pointMaxX = -pointMinX;
    double pointMinY = pointMinX;
    double pointMaxY = -pointMinX;
    for (int i = 0; i < n; ++i) {
        const TINPoint* p = ground.GetPoint(i);
        double column;
        double row;
        if (GroundToImage(p->x, p->y, p->z, column, row) > 0) {
            pointMinX = std::min(pointMinX, column);
            pointMaxX = std::max(pointMaxX, column);
            pointMinY = std::min(pointMinY, row);
            pointMaxY = std::max(pointMaxY, row);
        }
        // A point that does not project keeps its record with a NaN position,
        // which the grid index refuses as outside the grid.
        image.SetPoint(p->id, column - xStart, row - yStart, i);
    }

    // Bounds: the projected corners of the ground extent box (X outermost, then
    // Y, then Z), skipping any corner that does not project.
    TINExtent e;
    ground.GetExtent(&e);
    bool any = false;
    double minX = xStart, maxX = xStart, minY = yStart, maxY = yStart;
    for (double X : {e.xmin, e.xmax}) {
        for (double Y : {e.ymin, e.ymax}) {
            for (double Z : {e.zmin, e.zmax}) {
                double column;
                double row;
                if (GroundToImage(X, Y, Z, column, row) < 0) {
                    continue;
                }
                if (!any) {
                    minX = maxX = column;
                    minY = maxY = row;
                    any = true;
                }
                if (column < minX) {
                    minX = column;
                } else if (column > maxX) {
                    maxX = column;
                }
                if (row < minY) {
                    minY = row;
                } else if (row > maxY) {
                    maxY = row;
                }
            }
        }
    }
    // With the box wholly in front of the camera every record projects inside
    // the corners' range and this changes nothing; when corners were skipped it
    // keeps every projected record inside the bounds.
    if (pointMinX <= pointMaxX) {
        if (!any) {
            minX = pointMinX;
            maxX = pointMaxX;
            minY = pointMinY;
            maxY = pointMaxY;
        } else {
            minX = std::min(minX, pointMinX);
            maxX = std::max(maxX, pointMaxX);
            minY = std::min(minY, pointMinY);
            maxY = std::max(maxY, pointMaxY);
        }
    }
    // To sub-image pixels, 1000 pixels wider on every side.
    image.m_dMinX = minX - (xStart + 1000);
    image.m_dMaxX = maxX - (xStart - 1000);
    image.m_dMinY = minY - (yStart + 1000);
    image.m_dMaxY = maxY - (yStart - 1000);

    // Whole pixels of one ground spacing step at the lowest height, below the centre.
    double sx = 1.0;
    double sy = 1.0;
    ground.GetSpacing(&sx, &sy);
    double c0, r0, c1, r1, c2, r2;
    GroundToImage(m_dXs, m_dYs, e.zmin, c0, r0);
    GroundToImage(m_dXs + sx, m_dYs, e.zmin, c1, r1);
    GroundToImage(m_dXs, m_dYs + sy, e.zmin, c2, r2);
    image.SetSpacing(WholePixels(c0 - c1), WholePixels(r0 - r2));
    return 1;
}

int CAerialPhoto::UpdateImagePoint(const TINPoint& point, int index) {
    if (!m_pImagePoints) {
        return -1;
    }
    TINPoint* record = m_pImagePoints->GetPoint(index);
    if (record == nullptr) {
        return -1;
    }
    double column;
    double row;
    const int projected = GroundToImage(point.x, point.y, point.z, column, row);
    record->id = point.id;
    // Moves the record's key in the grid index with it, so that picking and
    // selecting find the point where it is now drawn.
    m_pImagePoints->MovePoint(index, column - GetXStart(), row - GetYStart());
    return projected;
}

void CAerialPhoto::ClearSelection() {
    m_selection.clear();
}

int CAerialPhoto::SelectImagePoint(int index) {
    if (!m_pImagePoints) {
        return -1;
    }
    const TINPoint* p = m_pImagePoints->GetPoint(index);
    if (p == nullptr) {
        return -1;
    }
    m_selection.push_back(*p);
    return 1;
}

int CAerialPhoto::FindImagePoint(int column, int row, double radius) const {
    if (!m_pImagePoints) {
        return -1;
    }
    return m_pImagePoints->FindNearest(column, row, radius);
}

int CAerialPhoto::AddPolygonVertex(int column, int row, double tolerance) {
    const int index = FindImagePoint(column, row, tolerance);
    if (index < 0) {
        return -1;
    }
    const TINPoint* p = m_pImagePoints->GetPoint(index);
    if (p == nullptr) {
        return -1;
    }
    m_polygon.push_back(*p);
    return index;
}

void CAerialPhoto::ClosePolygon() {
    if (!m_polygon.empty()) {
        const TINPoint first = m_polygon.front();
        m_polygon.push_back(first);
    }
}

int CAerialPhoto::SelectInsidePolygon(const std::vector<TINPoint>& polygon) {
    if (polygon.empty()) {
        return 0;
    }
    const size_t before = m_selection.size();
    SelectionShape shape;
    shape.kind = 1;
    shape.count = static_cast<int32_t>(polygon.size());
    shape.coords.reserve(polygon.size() * 2);
    for (const TINPoint& vertex : polygon) {
        const double column = vertex.x;  // packed record: copy before binding a reference
        const double row = vertex.y;
        shape.coords.push_back(column);
        shape.coords.push_back(row);
        m_selection.push_back(vertex);
    }
    if (m_pImagePoints) {
        std::vector<int> ids;
        m_pImagePoints->SelectInShape(shape, ids);
        for (int id : ids) {
            if (id < 0) {
                continue;  // deleted point still listed in the grid index
            }
            // The corners lie on the outline, which counts as inside; they are
            // in the list already, and an entry listed twice would be edited twice.
            const bool corner =
                std::any_of(polygon.begin(), polygon.end(),
                            [id](const TINPoint& vertex) { return vertex.id == id; });
            if (corner) {
                continue;
            }
            const TINPoint* p = m_pImagePoints->GetPoint(id);
            if (p != nullptr) {
                m_selection.push_back(*p);
            }
        }
    }
    return static_cast<int>(m_selection.size() - before);
}

void CAerialPhoto::CopySelectionTo(std::vector<TINPoint>& list) const {
    list.insert(list.end(), m_selection.begin(), m_selection.end());
}

void CAerialPhoto::AddToSelection(const TINPoint& record) {
    m_selection.push_back(record);
}

int CAerialPhoto::ComputeWindow(int xOffset, int yOffset, int left, int top, int right, int bottom,
                                int sceneHeight) {
    const ImageSize size = m_image.GetSize();
    const int oldFirstCol = m_nFirstCol;
    const int oldLastCol = m_nLastCol;
    const int oldFirstRow = m_nFirstRow;
    const int oldLastRow = m_nLastRow;
    // 64-bit intermediates: offsets and scroll positions cannot overflow here.
    auto clampInt = [](int64_t v) {
        return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    int64_t rasterX = 0;
    int64_t rasterY = 0;

    int64_t firstCol = static_cast<int64_t>(left) - xOffset;
    int64_t width = static_cast<int64_t>(right) - left;
    if (firstCol < 0) {
        rasterX = -firstCol;
        width -= rasterX;
        firstCol = 0;
    }
    const int64_t lastCol = std::min<int64_t>(firstCol + width, static_cast<int64_t>(size.cx) - 1);

    // Rows counted from the image's bottom row (GL draws upwards).
    int64_t firstRow = static_cast<int64_t>(sceneHeight) - bottom - yOffset;
    int64_t height = static_cast<int64_t>(bottom) - top;
    if (firstRow < 0) {
        rasterY = -firstRow;
        height -= rasterY;
        firstRow = 0;
    }
    const int64_t lastRow = std::min<int64_t>(firstRow + height, static_cast<int64_t>(size.cy) - 1);

    m_nRasterX = clampInt(rasterX);
    m_nRasterY = clampInt(rasterY);
    m_nFirstCol = clampInt(firstCol);
    m_nLastCol = clampInt(lastCol);
    m_nFirstRow = clampInt(firstRow);
    m_nLastRow = clampInt(lastRow);
    m_bWindowChanged = m_nFirstCol != oldFirstCol || m_nLastCol != oldLastCol ||
                       m_nFirstRow != oldFirstRow || m_nLastRow != oldLastRow;
    return 1;
}

unsigned char** CAerialPhoto::GetDisplayBuffer() {
    if (m_image.GetBands() == nullptr) {
        return nullptr;
    }
    if (m_nLastCol < m_nFirstCol || m_nLastRow < m_nFirstRow || m_nFirstCol < 0 ||
        m_nFirstRow < 0) {
        return nullptr;  // scrolled wholly off the image: no stale copy either
    }
    if (!m_bWindowChanged) {
        return m_image.GetWindow();
    }
    return m_image.ExtractWindowFlipped(m_nFirstCol, m_nLastCol, m_nFirstRow, m_nLastRow);
}

void CAerialPhoto::InvalidateWindow() {
    m_nFirstCol = -1;
    m_nLastCol = -1;
    m_nFirstRow = -1;
    m_nLastRow = -1;
    m_bWindowChanged = true;
}

void CAerialPhoto::ComputeGreyMap() {
    for (int i = 0; i < 256; ++i)
        m_greyMap[static_cast<size_t>(i)] = static_cast<float>(i) / 255.0f;
    unsigned char lo = 0, hi = 255;
    if (m_image.GetDisplayRange(lo, hi) > 0) FillGreyStretch(m_greyMap.data(), lo, hi);
}

void CAerialPhoto::SubImageToScanned(double column, double row, double& scannedColumn,
                                     double& scannedRow) const {
    scannedColumn = column + GetXStart();
    scannedRow = row + GetYStart();
}

void CAerialPhoto::ScannedToSubImage(double scannedColumn, double scannedRow, double& column,
                                     double& row) const {
    column = scannedColumn - GetXStart();
    row = scannedRow - GetYStart();
}
