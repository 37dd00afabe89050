#include "Photogrammetry/AerialPhoto.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "LanWriter.h"
#include "Platform/Platform.h"
#include "testing/PlatformTestSupport.h"

namespace {

// Tilted photograph, identity affine: scanned-image pixels equal photo coordinates.
const char* const kTilted =
    "ORIENTATION left photo\n"
    "152.916\n"
    "1000 1000 1800\n"
    "2 -3 30\n"
    "0 0 0\n"
    "1 0 0\n"
    "0 1 0\n"
    "0 0\n";

// Same photograph scanned at 12 micrometres, y axis of the scan pointing down,
// with an offset principal point.
const char* const kScanned =
    "ORIENTATION right photo\n"
    "152.916\n"
    "1600 1020 1790\n"
    "-1.5 2.5 -12\n"
    "9 9 9\n"
    "0.012 0.0001 -115.2\n"
    "-0.0001 -0.012 115.2\n"
    "0.01 -0.02\n";

// Vertical photograph over the origin: column = f X / H, row = f Y / H.
std::string Vertical(double f, double H) {
    return "ORIENTATION vertical test\n" + std::to_string(f) + "\n0 0 " + std::to_string(H) +
           "\n0 0 0\n0 0 0\n1 0 0\n0 1 0\n0 0\n";
}

// Every orientation member and matrix, for comparing photographs exactly.
std::vector<double> Snapshot(const CAerialPhoto& p) {
    std::vector<double> v = {p.m_dFocalLength, p.m_dPrincipalX, p.m_dPrincipalY,
                             p.m_dOmega,       p.m_dPhi,        p.m_dKappa,
                             p.m_dXs,          p.m_dYs,         p.m_dZs};
    for (const CMatrix* m :
         {&p.m_ppInterior, &p.m_ppInteriorInv, &p.m_ppRotation, &p.m_ppGroundToImage}) {
        for (int i = 0; i < 9; ++i) {
            v.push_back((*m)[0][i]);
        }
    }
    return v;
}

// Reads a one-band 8-bit image of cols x rows with the given starts into the
// photograph; pixel (c, r) holds (r * 7 + c) & 255.
void LoadImage(CAerialPhoto& photo, int cols, int rows, int xStart, int yStart) {
    std::vector<unsigned char> band(static_cast<size_t>(cols) * rows);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            band[static_cast<size_t>(r) * cols + c] = static_cast<unsigned char>((r * 7 + c) & 255);
        }
    }
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(WriteLan(f, MakeLanHeader(0, 1, cols, rows, xStart, yStart), {band.data()}), 1);
    std::rewind(f);
    ASSERT_EQ(photo.m_image.ReadImage(f), 1);
    std::fclose(f);
    photo.InvalidateWindow();
}

// A ground set of the given points with its extent and spacing.
std::unique_ptr<CTINPoints> GroundSet(const std::vector<std::array<double, 3>>& points,
                                      double spacing = 1.0) {
    auto set = std::make_unique<CTINPoints>(static_cast<int>(points.size()));
    TINExtent e{1e300, -1e300, 1e300, -1e300, 1e300, -1e300};
    for (size_t i = 0; i < points.size(); ++i) {
        const auto& p = points[i];
        set->SetPoint(static_cast<int>(i), p[0], p[1], static_cast<int>(i));
        set->GetPoint(static_cast<int>(i))->z = p[2];
        set->GetPoint(static_cast<int>(i))->weight = 1.0;
        e.xmin = std::min(e.xmin, p[0]);
        e.xmax = std::max(e.xmax, p[0]);
        e.ymin = std::min(e.ymin, p[1]);
        e.ymax = std::max(e.ymax, p[1]);
        e.zmin = std::min(e.zmin, p[2]);
        e.zmax = std::max(e.zmax, p[2]);
    }
    if (!points.empty()) {
        set->m_dMinX = e.xmin;
        set->m_dMaxX = e.xmax;
        set->m_dMinY = e.ymin;
        set->m_dMaxY = e.ymax;
        set->m_dMinZ = e.zmin;
        set->m_dMaxZ = e.zmax;
    }
    set->SetSpacing(spacing, spacing);
    return set;
}

class AerialPhotoTest : public ::testing::Test {
protected:
    platformtest::TempDir dir{"aerialphoto"};  // orientation files
};

}  // namespace

// ---------------------------------------------------------------- orientation file

TEST_F(AerialPhotoTest, CollinearityMatchesAnIndependentComputation) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("tilted.ORN", kTilted)), 1);
    double column = 0, row = 0;
    EXPECT_EQ(photo.GroundToImage(1268.1022, 1455.0274, -14.3939, column, row), 1);
    EXPECT_NEAR(column, 28.633847, 2e-6);
    EXPECT_NEAR(row, 21.016827, 2e-6);
}

TEST_F(AerialPhotoTest, ReadFormsInteriorMatrixInverseRotationAndProduct) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("scan.ORN", kScanned)), 1);
    const double f = 152.916;
    EXPECT_EQ(photo.m_dFocalLength, f);
    EXPECT_EQ(photo.m_dXs, 1600);
    EXPECT_EQ(photo.m_dZs, 1790);
    EXPECT_EQ(photo.m_dOmega, -1.5 / 180 * 3.141592653589793);
    EXPECT_EQ(photo.m_dKappa, -12.0 / 180 * 3.141592653589793);
    EXPECT_EQ(photo.m_dPrincipalX, 0.01);
    EXPECT_EQ(photo.m_dPrincipalY, -0.02);
    // Principal point folded into the constant column; row 2 is (0, 0, -f).
    EXPECT_DOUBLE_EQ(photo.m_ppInterior[0][2], -115.2 - 0.01);
    EXPECT_DOUBLE_EQ(photo.m_ppInterior[1][2], 115.2 + 0.02);
    EXPECT_EQ(photo.m_ppInterior[2][0], 0.0);
    EXPECT_EQ(photo.m_ppInterior[2][1], 0.0);
    EXPECT_EQ(photo.m_ppInterior[2][2], -f);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double aInv = 0, g = 0, mmT = 0;
            for (int k = 0; k < 3; ++k) {
                aInv += photo.m_ppInterior[i][k] * photo.m_ppInteriorInv[k][j];
                g += photo.m_ppInteriorInv[i][k] * photo.m_ppRotation[k][j];
                mmT += photo.m_ppRotation[i][k] * photo.m_ppRotation[j][k];
            }
            EXPECT_NEAR(aInv, i == j ? 1.0 : 0.0, 1e-12);
            EXPECT_NEAR(mmT, i == j ? 1.0 : 0.0, 1e-15);  // orthonormal
            EXPECT_DOUBLE_EQ(g, photo.m_ppGroundToImage[i][j]);
        }
    }
}

TEST_F(AerialPhotoTest, RotationRowsForZeroAndNinetyDegreeKappa) {
    CAerialPhoto photo;
    photo.ComputeRotation();  // all angles 0 at construction
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(photo.m_ppRotation[i][j], i == j ? 1.0 : 0.0);
        }
    }
    photo.m_dKappa = 90.0 / 180 * 3.141592653589793;
    photo.ComputeRotation();
    const double expected[3][3] = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(photo.m_ppRotation[i][j], expected[i][j], 1e-15);
        }
    }
}

TEST_F(AerialPhotoTest, IdentityInteriorMapsPixelToPhotoAndBack) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    double photoVector[3];
    photo.ImageToPhoto(12.5, -7.25, photoVector);
    EXPECT_EQ(photoVector[0], 12.5);
    EXPECT_EQ(photoVector[1], -7.25);
    EXPECT_EQ(photoVector[2], -100);
    // A^-1 maps (x, y, -f) back to (x, y, 1).
    for (int i = 0; i < 3; ++i) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) {
            sum += photo.m_ppInteriorInv[i][k] * photoVector[k];
        }
        EXPECT_NEAR(sum, i == 0 ? 12.5 : i == 1 ? -7.25 : 1.0, 1e-14);
    }
    // Vertical photograph: column = f X / H, row = f Y / H.
    double column, row;
    EXPECT_EQ(photo.GroundToImage(250, -430, 0, column, row), 1);
    EXPECT_DOUBLE_EQ(column, 100 * 250 / 1000.0);
    EXPECT_DOUBLE_EQ(row, 100 * -430 / 1000.0);
}

TEST_F(AerialPhotoTest, OneLineFileReadsLikeTheEightLineLayout) {
    std::string oneLine = kScanned;
    for (char& c : oneLine) {
        if (c == '\n') {
            c = ' ';
        }
    }
    CAerialPhoto a, b;
    ASSERT_EQ(a.ReadOrientation(dir.Write("eight.ORN", kScanned)), 1);
    ASSERT_EQ(b.ReadOrientation(dir.Write("one.ORN", oneLine + "  trailing words are ignored")), 1);
    EXPECT_EQ(Snapshot(a), Snapshot(b));
    // Line ends written by another system (carriage return before each newline).
    std::string crlf;
    for (const char* c = kScanned; *c != '\0'; ++c) {
        if (*c == '\n') {
            crlf += '\r';
        }
        crlf += *c;
    }
    CAerialPhoto d;
    ASSERT_EQ(d.ReadOrientation(dir.Write("crlf.ORN", crlf)), 1);
    EXPECT_EQ(Snapshot(a), Snapshot(d));
}

TEST_F(AerialPhotoTest, SecondFileReplacesEveryValue) {
    CAerialPhoto twice, once;
    ASSERT_EQ(twice.ReadOrientation(dir.Write("a.ORN", kTilted)), 1);
    ASSERT_EQ(twice.ReadOrientation(dir.Write("b.ORN", kScanned)), 1);
    ASSERT_EQ(once.ReadOrientation(dir.Write("c.ORN", kScanned)), 1);
    EXPECT_EQ(Snapshot(twice), Snapshot(once));
}

TEST_F(AerialPhotoTest, TwoWordHeaderShiftsEveryItemByOneToken) {
    // The third "header word" becomes 152.916 and every number moves up one
    // item; the file carries one extra number so that the shifted read completes.
    const std::string shifted =
        "ORIENTATION left\n152.916\n1000 1001 1800\n2 -3 30\n0 0 0\n0 1 0\n0 0 1\n0 0\n";
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("two.ORN", shifted + "5\n")), 1);
    EXPECT_EQ(photo.m_dFocalLength, 1000);
    EXPECT_EQ(photo.m_dXs, 1001);
    EXPECT_EQ(photo.m_dYs, 1800);
    EXPECT_EQ(photo.m_dZs, 2);
    EXPECT_EQ(photo.m_dOmega, -3.0 / 180 * 3.141592653589793);
    EXPECT_EQ(photo.m_dKappa, 0.0);
    EXPECT_EQ(photo.m_ppInterior[0][0], 1.0);
    EXPECT_EQ(photo.m_ppInterior[1][1], 1.0);
    EXPECT_EQ(photo.m_dPrincipalY, 5);
    // Without the extra number the file ends early and is refused.
    CAerialPhoto refused;
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(refused.ReadOrientation(dir.Write("two-short.ORN", shifted)), -1);
    EXPECT_EQ(refused.m_dFocalLength, 0.0);
}

TEST_F(AerialPhotoTest, BadFilesAreRefusedAndLeaveThePhotographAsItWas) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("good.ORN", kTilted)), 1);
    const std::vector<double> before = Snapshot(photo);
    Platform::ScopedMessageCapture capture;  // reasons go to the debug trace

    const std::string longWord(512, 'W');
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"ends early", "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n1 0 0\n0 1"},
        {"no header", ""},
        {"not a number",
         "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 thirty\n0 0 0\n"
         "1 0 0\n0 1 0\n0 0\n"},
        {"nan", "ORIENTATION a b\n152.916\n1000 nan 1800\n2 -3 30\n0 0 0\n1 0 0\n0 1 0\n0 0\n"},
        {"overflow",
         "ORIENTATION a b\n152.916\n1000 1000 1e999\n2 -3 30\n0 0 0\n1 0 0\n"
         "0 1 0\n0 0\n"},
        {"singular affine",
         "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
         "0 0 5\n0 1 0\n0 0\n"},
        // Rows 6 and 7 proportional, 0.1 and 0.3 times a scan at 12 micrometres:
        // singular, though rounding leaves no exact zero pivot.
        {"proportional affine rows",
         "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
         "0.012 0.0001 -115.2\n0.0012 0.00001 -11.52\n0.01 -0.02\n"},
        {"proportional affine rows 0.3",
         "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
         "0.012 0.0007 -115.2\n0.0036 0.00021 -34.56\n0.01 -0.02\n"},
        {"zero focal length",
         "ORIENTATION a b\n0\n1000 1000 1800\n2 -3 30\n0 0 0\n1 0 0\n"
         "0 1 0\n0 0\n"},
        {"overlong line", "ORIENTATION a b\n152.916" + std::string(5000, ' ') +
                              "\n1000 1000 1800\n2 -3 30\n0 0 0\n1 0 0\n0 1 0\n0 0\n"},
        {"larger than an orientation file can be",
         "ORIENTATION a b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n1 0 0\n0 1 0\n0 0\n" +
             std::string(70000, '\n')},
        {"overlong header word", "ORIENTATION " + longWord +
                                     " b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n"
                                     "1 0 0\n0 1 0\n0 0\n"},
    };
    int n = 0;
    for (const auto& [what, text] : bad) {
        EXPECT_EQ(photo.ReadOrientation(dir.Write("bad" + std::to_string(n++) + ".ORN", text)), -1)
            << what;
        EXPECT_EQ(Snapshot(photo), before) << what;
    }
    EXPECT_EQ(photo.ReadOrientation(std::string()), -1);
    EXPECT_EQ(photo.ReadOrientation(dir / "missing.ORN"), -1);
    EXPECT_EQ(photo.ReadOrientation(static_cast<FILE*>(nullptr)), -1);
    // Files that are no regular files, refused before they are read (a named
    // pipe would block, /dev/zero never end).
    const std::filesystem::path fifo = std::filesystem::path(dir / "fifo.ORN");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.ORN");
    std::filesystem::create_directory(dir / "folder.ORN");
    for (const char* name : {"fifo.ORN", "zero.ORN", "folder.ORN"})
        EXPECT_EQ(photo.ReadOrientation(dir / name), -1) << name;
    EXPECT_EQ(Snapshot(photo), before);

    // 511 characters is the longest header word accepted.
    const std::string longest(511, 'W');
    CAerialPhoto accepted;
    EXPECT_EQ(
        accepted.ReadOrientation(dir.Write(
            "w511.ORN", "ORIENTATION " + longest +
                            " b\n152.916\n1000 1000 1800\n2 -3 30\n0 0 0\n1 0 0\n0 1 0\n0 0\n")),
        1);
}

TEST_F(AerialPhotoTest, StreamOverloadReadsFromTheCurrentPositionAndFormsAllMatrices) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs(kScanned, f);
    std::rewind(f);
    CAerialPhoto fromStream, fromPath;
    EXPECT_EQ(fromStream.ReadOrientation(f), 1);
    std::fclose(f);
    ASSERT_EQ(fromPath.ReadOrientation(dir.Write("p.ORN", kScanned)), 1);
    EXPECT_EQ(Snapshot(fromStream), Snapshot(fromPath));
}

TEST_F(AerialPhotoTest, NumbersUseTheDecimalPointWhateverTheLocale) {
    // Build a decimal-comma locale (numbers as in de_DE: "1.234,5", the rest
    // POSIX) in the scratch directory; skip where that is impossible. The
    // POSIX categories and the ASCII character map compile in milliseconds,
    // where de_DE.UTF-8 takes seconds. -c: the categories left out are no error.
    const std::string source = dir.Write("comma.src",
                                         "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                                         "LC_COLLATE\ncopy \"POSIX\"\nEND LC_COLLATE\n"
                                         "LC_NUMERIC\ndecimal_point \"<U002C>\"\n"
                                         "thousands_sep \"<U002E>\"\ngrouping 3;3\n"
                                         "END LC_NUMERIC\n");
    const std::string cmd = "localedef -c -i '" + source + "' -f ANSI_X3.4-1968 '" +
                            (dir / "comma") + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == -1) {
        GTEST_SKIP() << "localedef not available";
    }
    const char* oldPath = std::getenv("LOCPATH");
    const std::string saved = oldPath ? oldPath : "";
    setenv("LOCPATH", dir.Path().c_str(), 1);
    const std::string oldLocale = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "comma") == nullptr) {
        GTEST_SKIP() << "decimal-comma locale could not be built or loaded";
    }
    ASSERT_EQ(*std::localeconv()->decimal_point, ',');
    CAerialPhoto photo;
    const int result = photo.ReadOrientation(dir.Write("l.ORN", kTilted));
    std::setlocale(LC_NUMERIC, oldLocale.c_str());
    if (oldPath) {
        setenv("LOCPATH", saved.c_str(), 1);
    } else {
        unsetenv("LOCPATH");
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(photo.m_dFocalLength, 152.916);
}

// ---------------------------------------------------------------- projection

TEST_F(AerialPhotoTest, ImageToGroundThenGroundToImageReturnsThePixel) {
    for (const char* text : {kTilted, kScanned}) {
        CAerialPhoto photo;
        ASSERT_EQ(photo.ReadOrientation(dir.Write("rt.ORN", text)), 1);
        for (double column : {-3000.0, 0.0, 17.25, 9000.5}) {
            for (double row : {-8000.0, 3.5, 9600.0}) {
                for (double Z : {-250.0, 0.0, 412.75}) {
                    const double pixel[3] = {column, row, 1.0};
                    double X, Y, c, r;
                    ASSERT_EQ(photo.ImageToGround(pixel, &Z, X, Y), 1);
                    ASSERT_EQ(photo.GroundToImage(X, Y, Z, c, r), 1);
                    EXPECT_NEAR(c, column, 1e-7);
                    EXPECT_NEAR(r, row, 1e-7);
                }
            }
        }
    }
}

TEST_F(AerialPhotoTest, MoveAlongRayKeepsThePixelInThisPhotographOnly) {
    CAerialPhoto left, right;
    ASSERT_EQ(left.ReadOrientation(dir.Write("l.ORN", kTilted)), 1);
    ASSERT_EQ(right.ReadOrientation(dir.Write("r.ORN", kScanned)), 1);
    TINPoint p{7, 1268.1022, 1455.0274, -14.3939, 0.5};
    double c0, r0, rc0, rr0;
    left.GroundToImage(p.x, p.y, p.z, c0, r0);
    right.GroundToImage(p.x, p.y, p.z, rc0, rr0);
    for (double dZ : {0.03, -12.5, 300.0}) {
        TINPoint moved = p;
        ASSERT_EQ(left.MoveAlongRay(moved, dZ), 1);
        EXPECT_DOUBLE_EQ(+moved.z, p.z + dZ);
        EXPECT_EQ(moved.id, 7);
        EXPECT_EQ(+moved.weight, 0.5);
        double c, r;
        left.GroundToImage(moved.x, moved.y, moved.z, c, r);
        EXPECT_NEAR(c, c0, 1e-9);
        EXPECT_NEAR(r, r0, 1e-9);
        right.GroundToImage(moved.x, moved.y, moved.z, c, r);
        EXPECT_GT(std::fabs(c - rc0) + std::fabs(r - rr0), 1e-3);
    }
    TINPoint same = p;
    EXPECT_EQ(left.MoveAlongRay(same, 0.0), 1);
    EXPECT_EQ(std::memcmp(&same, &p, sizeof p), 0);
}

TEST_F(AerialPhotoTest, DegenerateGeometryGivesNoInfiniteOrUndefinedPositions) {
    CAerialPhoto photo;
    double c = 0, r = 0, X = 0, Y = 0;
    // Before any orientation: nothing projects.
    EXPECT_EQ(photo.GroundToImage(1, 2, 3, c, r), -1);
    EXPECT_TRUE(std::isnan(c) && std::isnan(r));

    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    // A ground point at the height of the projection centre (w = 0).
    EXPECT_EQ(photo.GroundToImage(50, 60, 1000, c, r), -1);
    EXPECT_TRUE(std::isnan(c) && std::isnan(r));
    // Moving a point that is at the centre's height: refused, point unchanged.
    TINPoint level{3, 50, 60, 1000, 1};
    const TINPoint copy = level;
    EXPECT_EQ(photo.MoveAlongRay(level, 5.0), -1);
    EXPECT_EQ(std::memcmp(&level, &copy, sizeof level), 0);
    // A ray parallel to the ground plane: photo vector with w = 0.
    photo.m_dFocalLength = 0.0;
    TINPoint parallel{-1, 10, 10, 0, 0};
    EXPECT_EQ(photo.PhotoToGround(parallel, 0.0, X, Y), -1);
    EXPECT_TRUE(std::isnan(X) && std::isnan(Y));
    const double pixel[2] = {1, 1};
    const double* noHeight = nullptr;
    EXPECT_EQ(photo.ImageToGround(pixel, noHeight, X, Y), -1);
}

TEST_F(AerialPhotoTest, ProjectAllStoresSubImagePositionsBoundsAndWholePixelSpacing) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    LoadImage(photo, 64, 32, 100, 50);
    EXPECT_EQ(photo.GetXStart(), 100);
    EXPECT_EQ(photo.GetYStart(), 50);

    // Projects to scanned (612.5, 300.25); ground spacing 79 maps to 7.9 pixels.
    auto ground = GroundSet({{6125, 3002.5, 0}}, 79.0);
    ASSERT_EQ(photo.ProjectAll(*ground), 1);
    ASSERT_TRUE(photo.m_pImagePoints);
    const CTINPoints& image = *photo.m_pImagePoints;
    ASSERT_EQ(image.GetCount(), 1);
    EXPECT_EQ(image.GetPoint(0)->id, 0);
    EXPECT_DOUBLE_EQ(+image.GetPoint(0)->x, 512.5);
    EXPECT_DOUBLE_EQ(+image.GetPoint(0)->y, 250.25);
    // One point: all eight corners coincide, widened by 1000 on each side.
    EXPECT_DOUBLE_EQ(image.m_dMinX, 512.5 - 1000);
    EXPECT_DOUBLE_EQ(image.m_dMaxX, 512.5 + 1000);
    EXPECT_DOUBLE_EQ(image.m_dMinY, 250.25 - 1000);
    EXPECT_DOUBLE_EQ(image.m_dMaxY, 250.25 + 1000);
    double sx, sy;
    image.GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 7.0);
    EXPECT_EQ(sy, 7.0);

    // A negative x start in the low 16 bits.
    LoadImage(photo, 8, 8, 0x1FFFF, 0x0FFFE);  // low halves: -1 and -2
    EXPECT_EQ(photo.GetXStart(), -1);
    EXPECT_EQ(photo.GetYStart(), -2);
}

TEST_F(AerialPhotoTest, ProjectAllKeepsOneRecordPerGroundPointAtTheSameIndex) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("t.ORN", kTilted)), 1);
    LoadImage(photo, 16, 16, 10, 20);
    std::vector<std::array<double, 3>> pts;
    for (int i = 0; i < 50; ++i) {
        pts.push_back({900.0 + 13 * i, 1100.0 - 7 * (i % 9), -20.0 + (i % 5) * 3.5});
    }
    auto ground = GroundSet(pts, 5.0);
    ground->GetPoint(3)->id = -1;  // a deleted point keeps its place
    ASSERT_EQ(photo.ProjectAll(*ground), 1);
    const CTINPoints& image = *photo.m_pImagePoints;
    ASSERT_EQ(image.GetCount(), 50);
    for (int i = 0; i < 50; ++i) {
        double c, r;
        photo.GroundToImage(pts[i][0], pts[i][1], pts[i][2], c, r);
        EXPECT_EQ(image.GetPoint(i)->id, i == 3 ? -1 : i);
        EXPECT_EQ(+image.GetPoint(i)->x, c - 10);
        EXPECT_EQ(+image.GetPoint(i)->y, r - 20);
        EXPECT_GT(+image.GetPoint(i)->x, image.m_dMinX + 999);
        EXPECT_LT(+image.GetPoint(i)->x, image.m_dMaxX - 999);
        EXPECT_GT(+image.GetPoint(i)->y, image.m_dMinY + 999);
        EXPECT_LT(+image.GetPoint(i)->y, image.m_dMaxY - 999);
    }
    // A second projection replaces the set.
    auto fewer = GroundSet({{1000, 1000, 0}});
    ASSERT_EQ(photo.ProjectAll(*fewer), 1);
    EXPECT_EQ(photo.m_pImagePoints->GetCount(), 1);
}

TEST_F(AerialPhotoTest, ProjectAllOnEmptyAndUnprojectableSetsStaysFinite) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    LoadImage(photo, 16, 16, 100, 50);

    CTINPoints empty;
    ASSERT_EQ(photo.ProjectAll(empty), 1);
    ASSERT_TRUE(photo.m_pImagePoints);
    EXPECT_EQ(photo.m_pImagePoints->GetCount(), 0);
    for (double b : {photo.m_pImagePoints->m_dMinX, photo.m_pImagePoints->m_dMaxX,
                     photo.m_pImagePoints->m_dMinY, photo.m_pImagePoints->m_dMaxY}) {
        EXPECT_TRUE(std::isfinite(b));
    }
    EXPECT_LT(photo.m_pImagePoints->m_dMinX, photo.m_pImagePoints->m_dMaxX);

    // Point 1 lies at the centre's height: it keeps its record, with a position
    // the grid index refuses; bounds and spacing come from what does project.
    auto ground = GroundSet({{100, 200, 0}, {300, 400, 1000}, {-500, 50, 10}}, 10.0);
    ASSERT_EQ(photo.ProjectAll(*ground), 1);
    const CTINPoints& image = *photo.m_pImagePoints;
    ASSERT_EQ(image.GetCount(), 3);
    EXPECT_EQ(image.GetPoint(1)->id, 1);
    EXPECT_TRUE(std::isnan(image.GetPoint(1)->x));
    EXPECT_DOUBLE_EQ(+image.GetPoint(0)->x, 10 - 100.0);
    for (double b : {image.m_dMinX, image.m_dMaxX, image.m_dMinY, image.m_dMaxY}) {
        EXPECT_TRUE(std::isfinite(b));
    }
    // The corners at the centre's height are skipped; the points that project
    // still lie 1000 pixels inside the bounds.
    for (int i : {0, 2}) {
        EXPECT_LE(image.m_dMinX, image.GetPoint(i)->x - 1000) << i;
        EXPECT_GE(image.m_dMaxX, image.GetPoint(i)->x + 1000) << i;
        EXPECT_LE(image.m_dMinY, image.GetPoint(i)->y - 1000) << i;
        EXPECT_GE(image.m_dMaxY, image.GetPoint(i)->y + 1000) << i;
    }
    double sx, sy;
    image.GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 1.0);  // 100 * 10 / 1000
    CGridIndex probe;
    probe.Setup(image.m_dMinX, image.m_dMaxX, image.m_dMinY, image.m_dMaxY, 3, 1);
    Platform::ScopedMessageCapture capture;
    EXPECT_EQ(probe.Insert(image.GetPoint(1)->x, image.GetPoint(1)->y, 1), -2);

    // Every corner at the centre's height: nothing projects, bounds stay finite.
    auto flat = GroundSet({{1, 2, 1000}}, 10.0);
    ASSERT_EQ(photo.ProjectAll(*flat), 1);
    EXPECT_DOUBLE_EQ(photo.m_pImagePoints->m_dMinX, -1000);
    EXPECT_DOUBLE_EQ(photo.m_pImagePoints->m_dMaxY, 1000);
    photo.m_pImagePoints->GetSpacing(&sx, &sy);
    EXPECT_EQ(sx, 0.0);
}

TEST_F(AerialPhotoTest, UpdateImagePointChangesOnlyItsRecord) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    LoadImage(photo, 16, 16, 100, 50);
    TINPoint p{1, 2000, 3000, 0, 1};
    EXPECT_EQ(photo.UpdateImagePoint(p, 0), -1);  // no image-point set yet
    auto ground = GroundSet({{0, 0, 0}, {1000, 1000, 0}, {2000, 2000, 0}});
    ASSERT_EQ(photo.ProjectAll(*ground), 1);
    EXPECT_EQ(photo.UpdateImagePoint(p, 1), 1);
    EXPECT_DOUBLE_EQ(+photo.m_pImagePoints->GetPoint(1)->x, 200 - 100.0);
    EXPECT_DOUBLE_EQ(+photo.m_pImagePoints->GetPoint(1)->y, 300 - 50.0);
    EXPECT_DOUBLE_EQ(+photo.m_pImagePoints->GetPoint(2)->x, 200 - 100.0);
    EXPECT_DOUBLE_EQ(+photo.m_pImagePoints->GetPoint(0)->x, -100.0);
    EXPECT_EQ(photo.UpdateImagePoint(p, 3), -1);
    EXPECT_EQ(photo.UpdateImagePoint(p, -1), -1);
}

// Re-projected points stay findable where they are drawn: picking and
// selecting follow every UpdateImagePoint, across cells, out of the image,
// beyond the set's bounds, and through a position that does not project.
TEST_F(AerialPhotoTest, UpdateImagePointKeepsTheIndexInStep) {
    CAerialPhoto photo;
    ASSERT_EQ(photo.ReadOrientation(dir.Write("v.ORN", Vertical(100, 1000))), 1);
    LoadImage(photo, 256, 256, 0, 0);
    // A 21 x 21 lattice 100 ground units apart: image points 10 pixels apart.
    std::vector<std::array<double, 3>> lattice;
    for (int i = 0; i < 441; ++i) lattice.push_back({100.0 * (i % 21), 100.0 * (i / 21), 0.0});
    auto ground = GroundSet(lattice, 100.0);
    ASSERT_EQ(photo.ProjectAll(*ground), 1);
    ASSERT_EQ(photo.m_pImagePoints->BuildPlacedIndex(1), 0);
    ASSERT_EQ(photo.FindImagePoint(0, 0, 2.0), 0);
    Platform::ScopedMessageCapture capture;

    auto selectAll = [&] {
        std::vector<int> ids;
        photo.m_pImagePoints->SelectInShape({0, 0, {-1e9, -1e9, 1e9, 1e9}}, ids);
        return std::count(ids.begin(), ids.end(), 0);
    };
    TINPoint& p = *ground->GetPoint(0);
    p.x = 1550;
    p.y = 1550;
    EXPECT_EQ(photo.UpdateImagePoint(p, 0), 1);
    EXPECT_EQ(photo.FindImagePoint(155, 155, 2.0), 0);
    EXPECT_EQ(photo.FindImagePoint(0, 0, 2.0), -1);
    EXPECT_EQ(selectAll(), 1);

    p.z = 1000;  // the height of the projection centre: no image position
    EXPECT_EQ(photo.UpdateImagePoint(p, 0), -1);
    EXPECT_TRUE(std::isnan(+photo.m_pImagePoints->GetPoint(0)->x));
    EXPECT_NE(photo.FindImagePoint(155, 155, 2.0), 0);
    EXPECT_EQ(selectAll(), 0);

    p.x = 500;
    p.y = -300;
    p.z = 0;
    EXPECT_EQ(photo.UpdateImagePoint(p, 0), 1);
    EXPECT_EQ(photo.FindImagePoint(50, -30, 2.0), 0);
    EXPECT_EQ(selectAll(), 1);

    // Far beyond the bounds the photograph set (1000 pixels around the lattice).
    p.x = 40000;
    EXPECT_EQ(photo.UpdateImagePoint(p, 0), 1);
    EXPECT_EQ(photo.FindImagePoint(4000, -30, 2.0), 0);
    EXPECT_GE(photo.m_pImagePoints->m_dMaxX, 4000.0);
    EXPECT_EQ(photo.FindImagePoint(100, 100, 2.0), 10 * 21 + 10);
    EXPECT_EQ(selectAll(), 1);
    EXPECT_TRUE(capture.Messages().empty());
}

// ---------------------------------------------------------------- selection

namespace {

// An indexed image-point set of a 10 x 10 lattice at sub-image (10 i, 10 j), id = index.
void LatticeImagePoints(CAerialPhoto& photo) {
    photo.m_pImagePoints = std::make_unique<CTINPoints>(100);
    for (int i = 0; i < 100; ++i) {
        photo.m_pImagePoints->SetPoint(i, 10.0 * (i % 10) + 0.5, 10.0 * (i / 10) + 0.5, i);
    }
    photo.m_pImagePoints->m_dMinX = -1000;
    photo.m_pImagePoints->m_dMaxX = 1100;
    photo.m_pImagePoints->m_dMinY = -1000;
    photo.m_pImagePoints->m_dMaxY = 1100;
    ASSERT_EQ(photo.m_pImagePoints->BuildIndex(1), 0);
}

}  // namespace

TEST(AerialPhotoSelection, PickingAndSelectingSingleImagePoints) {
    CAerialPhoto photo;
    EXPECT_EQ(photo.FindImagePoint(0, 0, 5.0), -1);  // no image-point set
    EXPECT_EQ(photo.SelectImagePoint(0), -1);
    EXPECT_EQ(photo.AddPolygonVertex(0, 0, 5.0), -1);
    EXPECT_TRUE(photo.m_polygon.empty());

    LatticeImagePoints(photo);
    const int found = photo.FindImagePoint(30, 40, 5.0);
    EXPECT_EQ(found, 43);
    EXPECT_EQ(photo.SelectImagePoint(found), 1);
    EXPECT_EQ(photo.SelectImagePoint(100), -1);
    ASSERT_EQ(photo.m_selection.size(), 1u);
    EXPECT_EQ(photo.m_selection[0].id, 43);
    EXPECT_EQ(+photo.m_selection[0].x, 30.5);

    TINPoint extra{99, 1, 2, 3, 4};
    photo.AddToSelection(extra);
    std::vector<TINPoint> other(1, extra);
    photo.CopySelectionTo(other);
    ASSERT_EQ(other.size(), 3u);
    EXPECT_EQ(other[1].id, 43);
    EXPECT_EQ(other[2].id, 99);
    photo.ClearSelection();
    EXPECT_TRUE(photo.m_selection.empty());
}

TEST(AerialPhotoSelection, PolygonOfThreeClickedPointsSelectsCornersAndInterior) {
    CAerialPhoto photo;
    LatticeImagePoints(photo);
    photo.m_pImagePoints->GetPoint(33)->id = -1;  // deleted, still in the index
    EXPECT_EQ(photo.AddPolygonVertex(10, 10, 5.0), 11);
    EXPECT_EQ(photo.AddPolygonVertex(300, 300, 5.0), -1);  // nothing near: no vertex
    EXPECT_EQ(photo.AddPolygonVertex(70, 10, 5.0), 17);
    EXPECT_EQ(photo.AddPolygonVertex(10, 70, 5.0), 71);
    photo.ClosePolygon();
    ASSERT_EQ(photo.m_polygon.size(), 4u);
    EXPECT_EQ(photo.m_polygon[3].id, 11);

    const int added = photo.SelectInsidePolygon(photo.m_polygon);
    EXPECT_EQ(added, static_cast<int>(photo.m_selection.size()));
    ASSERT_GE(photo.m_selection.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(photo.m_selection[k].id, photo.m_polygon[k].id);
    }
    std::vector<int> ids;
    for (size_t k = 4; k < photo.m_selection.size(); ++k) {
        ids.push_back(photo.m_selection[k].id);
    }
    // Strictly inside the triangle (11, 17, 71): e.g. 22, 23, 24, 32, 42.
    for (int inside : {22, 23, 24, 32, 42}) {
        EXPECT_NE(std::find(ids.begin(), ids.end(), inside), ids.end()) << inside;
    }
    for (int outside : {33, -1, 88, 0, 77}) {
        EXPECT_EQ(std::find(ids.begin(), ids.end(), outside), ids.end()) << outside;
    }
    // Points on the edges are in (14 between 11 and 17, 41 between 11 and 71,
    // 44 on the long edge); the corners only once, as corners.
    for (int onEdge : {14, 41, 44}) {
        EXPECT_EQ(std::count(ids.begin(), ids.end(), onEdge), 1) << onEdge;
    }
    for (int corner : {11, 17, 71}) {
        EXPECT_EQ(std::count(ids.begin(), ids.end(), corner), 0) << corner;
    }
    // The same triangle clicked the other way round selects the same points.
    CAerialPhoto reversed;
    LatticeImagePoints(reversed);
    reversed.m_pImagePoints->GetPoint(33)->id = -1;
    for (const auto& [column, row] : {std::pair{10, 70}, {70, 10}, {10, 10}}) {
        ASSERT_GE(reversed.AddPolygonVertex(column, row, 5.0), 0);
    }
    reversed.ClosePolygon();
    reversed.SelectInsidePolygon(reversed.m_polygon);
    std::vector<int> reversedIds;
    for (size_t k = 4; k < reversed.m_selection.size(); ++k) {
        reversedIds.push_back(reversed.m_selection[k].id);
    }
    std::sort(ids.begin(), ids.end());
    std::sort(reversedIds.begin(), reversedIds.end());
    EXPECT_EQ(reversedIds, ids);

    CAerialPhoto noSet;
    EXPECT_EQ(noSet.SelectInsidePolygon(photo.m_polygon), 4);  // the vertices alone
    EXPECT_EQ(noSet.SelectInsidePolygon({}), 0);
    std::vector<TINPoint> none;
    noSet.m_polygon = none;
    noSet.ClosePolygon();
    EXPECT_TRUE(noSet.m_polygon.empty());
}

// ---------------------------------------------------------------- display window

TEST(AerialPhotoWindow, WindowFollowsTheVisibleRectangleAndClipsToTheImage) {
    CAerialPhoto photo;
    LoadImage(photo, 100, 80, 0, 0);
    // Left image, no offset: rows counted from the bottom.
    photo.ComputeWindow(0, 0, 0, 0, 50, 40, 80);
    EXPECT_EQ(photo.m_nFirstCol, 0);
    EXPECT_EQ(photo.m_nLastCol, 50);
    EXPECT_EQ(photo.m_nFirstRow, 40);
    EXPECT_EQ(photo.m_nLastRow, 79);
    EXPECT_EQ(photo.m_nRasterX, 0);
    EXPECT_EQ(photo.m_nRasterY, 0);
    EXPECT_TRUE(photo.m_bWindowChanged);
    photo.ComputeWindow(0, 0, 0, 0, 50, 40, 80);
    EXPECT_FALSE(photo.m_bWindowChanged);

    // Scrolled right past the image edge: last column clipped to cols - 1.
    photo.ComputeWindow(0, 0, 60, 10, 160, 50, 80);
    EXPECT_EQ(photo.m_nFirstCol, 60);
    EXPECT_EQ(photo.m_nLastCol, 99);
    EXPECT_EQ(photo.m_nFirstRow, 30);
    EXPECT_EQ(photo.m_nLastRow, 70);
    EXPECT_TRUE(photo.m_bWindowChanged);

    // Right image shifted 30 right and 5 up, visible rectangle starting left of it.
    photo.ComputeWindow(30, 5, 10, 0, 60, 78, 80);
    EXPECT_EQ(photo.m_nRasterX, 20);
    EXPECT_EQ(photo.m_nFirstCol, 0);
    EXPECT_EQ(photo.m_nLastCol, 30);  // width 50 reduced by 20
    EXPECT_EQ(photo.m_nRasterY, 3);   // 80 - 78 - 5 = -3
    EXPECT_EQ(photo.m_nFirstRow, 0);
    EXPECT_EQ(photo.m_nLastRow, 75);  // height 78 reduced by 3
}

TEST(AerialPhotoWindow, DisplayBufferIsTheFlippedWindowAndIsReusedUntilItChanges) {
    CAerialPhoto photo;
    EXPECT_EQ(photo.GetDisplayBuffer(), nullptr);  // no image data
    LoadImage(photo, 100, 80, 0, 0);
    photo.ComputeWindow(0, 0, 20, 10, 29, 14, 80);  // columns 20..29, rows 66..70 from the bottom
    unsigned char** copy = photo.GetDisplayBuffer();
    ASSERT_NE(copy, nullptr);
    // Window row 0 is the bottom row of the rectangle: stored row 80 - 1 - 66 = 13.
    EXPECT_EQ(copy[0][0], static_cast<unsigned char>(13 * 7 + 20));
    EXPECT_EQ(copy[0][10 + 3], static_cast<unsigned char>(12 * 7 + 23));  // window row 1

    // Unchanged window: the previous copy, not a new extraction.
    photo.m_image.GetBands()[0][13 * 100 + 20] = 255;
    photo.ComputeWindow(0, 0, 20, 10, 29, 14, 80);
    ASSERT_FALSE(photo.m_bWindowChanged);
    EXPECT_EQ(photo.GetDisplayBuffer()[0][0], static_cast<unsigned char>(13 * 7 + 20));
    // After InvalidateWindow the same rectangle counts as changed and is copied again.
    photo.InvalidateWindow();
    photo.ComputeWindow(0, 0, 20, 10, 29, 14, 80);
    EXPECT_TRUE(photo.m_bWindowChanged);
    EXPECT_EQ(photo.GetDisplayBuffer()[0][0], 255);

    // Scrolled wholly off the image (right image far to the right): no copy,
    // and none on the next unchanged cycle either.
    photo.ComputeWindow(660, 0, 0, 0, 50, 40, 80);
    EXPECT_EQ(photo.GetDisplayBuffer(), nullptr);
    photo.ComputeWindow(660, 0, 0, 0, 50, 40, 80);
    EXPECT_FALSE(photo.m_bWindowChanged);
    EXPECT_EQ(photo.GetDisplayBuffer(), nullptr);
}
