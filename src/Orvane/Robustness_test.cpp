// Bad input files at the application level, on the X server: a project whose
// points belong to another project, a right image smaller than the left one,
// LAN headers with absurd sizes or unknown sample codes, and points and
// orientation files that are cut short or hold values that are not numbers.
// A refused load names the file in an exclamation box and keeps the earlier
// project; an accepted one draws and selects without fault.
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "LanWriter.h"
#include "testing/OrvaneTestSupport.h"

using namespace orvane_test;
using Platform::ScopedMessageCapture;

namespace {

// The first n lines of a text, each with its line break.
std::string FirstLines(const std::string& text, int n) {
    size_t end = 0;
    for (int i = 0; i < n; ++i) {
        const size_t lineBreak = text.find('\n', end);
        if (lineBreak == std::string::npos) return text;
        end = lineBreak + 1;
    }
    return text.substr(0, end);
}

template <typename T>
void Poke(std::string& bytes, size_t offset, T value) {
    ASSERT_LE(offset + sizeof value, bytes.size());
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Pixels of one buffer of the whole client area, by kind.
struct PixelCounts {
    int image = 0;     // grey, neither black nor white: image pixels
    int points = 0;    // the point colour
    int selected = 0;  // the selected point colour
};

PixelCounts CountPixels(AppHarness& h, GLenum buffer) {
    const CRect rc = h.view->GetClientRect();
    const std::vector<unsigned char> px =
        h.view->ReadBufferPixels(buffer, 0, 0, rc.Width(), rc.Height());
    EXPECT_EQ(px.size(), static_cast<size_t>(rc.Width()) * rc.Height() * 3);
    PixelCounts counts;
    for (size_t i = 0; i + 2 < px.size(); i += 3) {
        const int r = px[i], g = px[i + 1], b = px[i + 2];
        if (r == g && g == b && r > 0 && r < 255) ++counts.image;
        if (r == h.view->m_rgbPoints.r && g == h.view->m_rgbPoints.g && b == h.view->m_rgbPoints.b)
            ++counts.points;
        if (r == h.view->m_rgbSelected.r && g == h.view->m_rgbSelected.g &&
            b == h.view->m_rgbSelected.b)
            ++counts.selected;
    }
    return counts;
}

// Rubber-band selection over the whole client area, as the mouse makes it.
void SelectWholeClient(AppHarness& h) {
    const CRect rc = h.view->GetClientRect();
    h.view->OnLButtonDown(MK_LBUTTON, CPoint(2, 2));
    h.view->OnMouseMove(MK_LBUTTON, CPoint(rc.Width() - 3, rc.Height() - 3));
    h.view->OnLButtonUp(0, CPoint(rc.Width() - 3, rc.Height() - 3));
}

// The three point sets stay parallel: same count, same id at every index.
void ExpectParallel(COrvaneDoc& doc) {
    ASSERT_TRUE(doc.m_leftPhoto.m_pImagePoints);
    ASSERT_TRUE(doc.m_rightPhoto.m_pImagePoints);
    const int n = doc.m_points.GetCount();
    ASSERT_EQ(doc.m_leftPhoto.m_pImagePoints->GetCount(), n);
    ASSERT_EQ(doc.m_rightPhoto.m_pImagePoints->GetCount(), n);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(doc.m_leftPhoto.m_pImagePoints->GetPoint(i)->id, doc.m_points.GetPoint(i)->id);
        ASSERT_EQ(doc.m_rightPhoto.m_pImagePoints->GetPoint(i)->id, doc.m_points.GetPoint(i)->id);
    }
}

class Robustness : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.view);
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(h.Load(), 1);
        // The right image laid straight over the left one.
        h.view->m_nXOffset = 0;
        h.view->m_nYOffset = 0;
        h.view->m_bOffsetChanged = true;
        demoCount = h.doc->m_points.GetCount();
        demoPoints = ReadAll(DemoPaths().matchedPoints);
        ASSERT_GT(demoCount, 0);
    }
    std::string File(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }

    // The earlier (demo) project is still there, unchanged and drawable.
    void ExpectDemoProjectKept() {
        EXPECT_EQ(h.doc->m_points.GetCount(), demoCount);
        EXPECT_EQ(h.doc->m_leftPhoto.m_image.GetSize().cx, 900);
        EXPECT_EQ(h.doc->m_rightPhoto.m_image.GetSize().cx, 900);
        EXPECT_TRUE(h.doc->m_leftPhoto.m_image.GetBands());
        EXPECT_TRUE(h.doc->m_rightPhoto.m_image.GetBands());
        EXPECT_FALSE(h.doc->IsModified());
        EXPECT_EQ(h.doc->GetPathName().toStdString(), DemoPaths().matchedPoints);
        ExpectParallel(*h.doc);
        EXPECT_EQ(ReadAll(DemoPaths().matchedPoints), demoPoints);
        h.Draw();
        EXPECT_GT(CountPixels(h, GL_FRONT_LEFT).image, 1000);
    }

    // Loads `paths` and expects it refused with `message` as the last box
    // that `capture` (created by the caller) has seen.
    void ExpectRefused(const ProjectPaths& paths, const std::string& message,
                       const std::string& what, const ScopedMessageCapture& capture) {
        EXPECT_EQ(h.doc->LoadProject(paths), -1) << what;
        ASSERT_FALSE(capture.Messages().empty()) << what;
        EXPECT_EQ(capture.Messages().back().text, message) << what;
        EXPECT_EQ(capture.Messages().back().kind, Platform::MessageKind::Exclamation) << what;
        EXPECT_EQ(h.doc->m_points.GetCount(), demoCount) << what;
    }

    AppHarness h;
    QTemporaryDir dir;
    int demoCount = 0;
    std::string demoPoints;
};

}  // namespace

// The points of another project, 50 km away: the project loads, every point
// projects far outside both images, nothing is drawn over the images at any
// scroll position, and rectangle selections work (the screen holds none of
// the points; a rectangle around their image positions holds all of them).
TEST_F(Robustness, PointsFileOfAnotherProjectLoadsAndDrawsNothingOverTheImages) {
    // Control: the demo's own points are drawn.
    const CTINPoints& own = *h.doc->m_leftPhoto.m_pImagePoints;
    const TINPoint middle = *own.GetPoint(own.GetCount() / 2);
    h.view->ScrollToPosition(
        CPoint(static_cast<int>(middle.x) - 100, static_cast<int>(middle.y) - 100));
    h.Draw();
    ASSERT_GT(CountPixels(h, GL_FRONT_LEFT).points, 0);

    CTINPoints other;
    ASSERT_EQ(other.ReadPts(DemoPaths().matchedPoints), 1);
    for (int i = 0; i < other.GetCount(); ++i) {
        TINPoint* p = other.GetPoint(i);
        p->x = p->x + 50000.0;
        p->y = p->y + 50000.0;
    }
    other.m_dMinX += 50000.0;
    other.m_dMaxX += 50000.0;
    other.m_dMinY += 50000.0;
    other.m_dMaxY += 50000.0;
    ProjectPaths paths = DemoPaths();
    paths.matchedPoints = File("other.pts");
    ASSERT_EQ(other.WritePts(paths.matchedPoints), other.GetCount());

    ScopedMessageCapture capture;
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_TRUE(capture.Messages().empty());
    ExpectParallel(*h.doc);
    for (CAerialPhoto* photo : {&h.doc->m_leftPhoto, &h.doc->m_rightPhoto}) {
        const ImageSize size = photo->m_image.GetSize();
        const CTINPoints& set = *photo->m_pImagePoints;
        ASSERT_TRUE(set.GetIndex());
        for (int i = 0; i < set.GetCount(); ++i) {
            const TINPoint p = *set.GetPoint(i);
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y)) << i;
            ASSERT_TRUE(p.x < 0 || p.y < 0 || p.x >= size.cx || p.y >= size.cy) << i;
        }
    }

    for (CPoint scroll : {CPoint(0, 0), CPoint(300, 300), CPoint(100000, 100000)}) {
        h.view->ScrollToPosition(scroll);
        h.Draw();
        for (GLenum buffer : {GL_FRONT_LEFT, GL_FRONT_RIGHT}) {
            const PixelCounts counts = CountPixels(h, buffer);
            EXPECT_GT(counts.image, 1000) << +scroll.x;
            EXPECT_EQ(counts.points, 0) << +scroll.x;
        }
    }

    SelectWholeClient(h);
    EXPECT_TRUE(h.doc->m_leftPhoto.m_selection.empty());
    EXPECT_TRUE(h.doc->m_rightPhoto.m_selection.empty());

    // A rectangle around the points' left image positions selects every one.
    const CTINPoints& left = *h.doc->m_leftPhoto.m_pImagePoints;
    double minX = left.GetPoint(0)->x, maxX = minX, minY = left.GetPoint(0)->y, maxY = minY;
    for (int i = 0; i < left.GetCount(); ++i) {
        minX = std::min<double>(minX, +left.GetPoint(i)->x);
        maxX = std::max<double>(maxX, +left.GetPoint(i)->x);
        minY = std::min<double>(minY, +left.GetPoint(i)->y);
        maxY = std::max<double>(maxY, +left.GetPoint(i)->y);
    }
    h.view->SelectInRect(static_cast<int>(minX) - 1, static_cast<int>(minY) - 1,
                         static_cast<int>(maxX) + 1, static_cast<int>(maxY) + 1);
    EXPECT_EQ(static_cast<int>(h.doc->m_leftPhoto.m_selection.size()), left.GetCount());
    EXPECT_EQ(h.doc->m_rightPhoto.m_selection.size(), h.doc->m_leftPhoto.m_selection.size());
    h.Draw();
    EXPECT_EQ(CountPixels(h, GL_FRONT_LEFT).selected, 0);
    EXPECT_GT(CountPixels(h, GL_FRONT_LEFT).image, 1000);
}

// A right image of 200 x 150 pixels beside a left one of 900 x 900: the project
// loads, the right eye never shows more than the right image holds, the left
// eye stays full, and selections keep both photographs' lists in step.
TEST_F(Robustness, RightImageSmallerThanTheLeftLoadsAndDraws) {
    FILE* in = std::fopen(DemoPaths().rightImage.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    CErdasImage full;
    ASSERT_EQ(full.ReadImage(in), 1);
    std::fclose(in);
    ASSERT_EQ(full.GetBytesPerSample(), 1);
    const int cols = 200, rows = 150;
    std::vector<unsigned char> cut(static_cast<size_t>(cols) * rows);
    for (int r = 0; r < rows; ++r)
        std::memcpy(&cut[static_cast<size_t>(r) * cols],
                    full.GetBands()[0] + static_cast<size_t>(r) * full.GetSize().cx, cols);
    const LanHeader fullHeader = full.GetHeader();
    ProjectPaths paths = DemoPaths();
    paths.rightImage = File("small-right.lan");
    ASSERT_EQ(WriteLanFile(paths.rightImage,
                           MakeLanHeader(0, 1, cols, rows, fullHeader.xstart, fullHeader.ystart),
                           {cut.data()}),
              1);

    ScopedMessageCapture capture;
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(h.doc->m_rightPhoto.m_image.GetSize().cx, cols);
    EXPECT_EQ(h.doc->m_rightPhoto.m_image.GetSize().cy, rows);
    EXPECT_EQ(h.doc->GetSceneSize().cx, 900);  // the scene is the left image
    ExpectParallel(*h.doc);

    bool rightSeen = false;
    for (int y : {0, 350, 900}) {
        for (int x : {0, 350, 900}) {
            h.view->ScrollToPosition(CPoint(x, y));
            h.Draw();
            const PixelCounts left = CountPixels(h, GL_FRONT_LEFT);
            const PixelCounts right = CountPixels(h, GL_FRONT_RIGHT);
            EXPECT_GT(left.image, cols * rows) << x << "," << y;
            EXPECT_LE(right.image, cols * rows) << x << "," << y;
            rightSeen = rightSeen || right.image > 1000;
            SelectWholeClient(h);
            EXPECT_EQ(h.doc->m_leftPhoto.m_selection.size(),
                      h.doc->m_rightPhoto.m_selection.size());
            h.doc->ReleaseSelection();
        }
    }
    EXPECT_TRUE(rightSeen);
}

// LAN headers whose sizes no machine can hold, or that are not positive, and
// files that end inside the header are refused with the image's name; the
// loaded project stays. Pixel data cut short loads with the rest black. An
// unknown sample code reads one byte per sample, so such an image loads as 8-bit.
TEST_F(Robustness, LanHeadersWithAbsurdSizesAreRefusedUnknownSampleCodesRead) {
    const std::string leftBytes = ReadAll(DemoPaths().leftImage);
    ASSERT_GT(leftBytes.size(), 128u);
    const int32_t big = std::numeric_limits<int32_t>::max();
    struct Case {
        const char* what;
        int32_t cols, rows;
        uint16_t bands;
        bool allocationMessage;
    };
    const Case cases[] = {
        {"2^31-1 squared pixels", big, big, 1, true},
        {"65535 bands of 2^31-1 squared", big, big, 65535, false},
        {"negative columns", -900, 900, 1, false},
        {"zero rows", 900, 0, 1, false},
        {"no bands", 900, 900, 0, false},
    };
    for (const Case& c : cases) {
        std::string bytes = leftBytes;
        Poke<uint16_t>(bytes, 8, c.bands);
        Poke<int32_t>(bytes, 16, c.cols);
        Poke<int32_t>(bytes, 20, c.rows);
        for (bool leftSide : {true, false}) {
            ProjectPaths paths = DemoPaths();
            const std::string path = File(leftSide ? "absurd-left.lan" : "absurd-right.lan");
            WriteAll(path, bytes);
            (leftSide ? paths.leftImage : paths.rightImage) = path;
            ScopedMessageCapture capture;
            ExpectRefused(paths, leftSide ? "Open Left Image error!" : "Open Right Image error!",
                          c.what, capture);
            if (c.allocationMessage) {
                ASSERT_EQ(capture.Messages().size(), 2u) << c.what;
                EXPECT_EQ(capture.Messages()[0].text, "Allocate Memory for Image Fails");
            } else {
                EXPECT_EQ(capture.Messages().size(), 1u) << c.what;
            }
        }
    }
    // Files that end inside the 128-byte header: no sizes to go by.
    for (size_t length : {size_t{0}, size_t{100}}) {
        ProjectPaths paths = DemoPaths();
        paths.rightImage = File("short-header.lan");
        WriteAll(paths.rightImage, leftBytes.substr(0, length));
        ScopedMessageCapture capture;
        ExpectRefused(paths, "Open Right Image error!", "header of " + std::to_string(length),
                      capture);
        EXPECT_EQ(capture.Messages().size(), 1u);
    }
    ExpectDemoProjectKept();

    // Pixel data cut short: the image loads, the missing rows are black.
    {
        ProjectPaths paths = DemoPaths();
        paths.leftImage = File("half.lan");
        WriteAll(paths.leftImage, leftBytes.substr(0, 128 + 900 * 450 + 17));
        ScopedMessageCapture capture;
        ASSERT_EQ(h.Load(paths), 1);
        EXPECT_TRUE(capture.Messages().empty());
        const unsigned char* band = h.doc->m_leftPhoto.m_image.GetBands()[0];
        EXPECT_EQ(std::memcmp(band, leftBytes.data() + 128, 900 * 450 + 17), 0);
        EXPECT_EQ(std::count(band + 900 * 450 + 17, band + 900 * 900, 0), 900 * 450 - 17);
        h.Draw();
    }

    // Unknown sample codes: the same pixels as the 8-bit file. The magic is
    // not a size and is not checked either.
    for (uint16_t code : {uint16_t{9}, uint16_t{200}, uint16_t{65535}}) {
        std::string bytes = leftBytes;
        Poke<uint16_t>(bytes, 6, code);
        if (code == 200) bytes.replace(0, 6, "LAN???");
        ProjectPaths paths = DemoPaths();
        paths.leftImage = File("unknown-code.lan");
        WriteAll(paths.leftImage, bytes);
        ScopedMessageCapture capture;
        ASSERT_EQ(h.Load(paths), 1) << code;
        EXPECT_TRUE(capture.Messages().empty());
        EXPECT_EQ(h.doc->m_leftPhoto.m_image.GetBytesPerSample(), 1);
        EXPECT_EQ(std::memcmp(h.doc->m_leftPhoto.m_image.GetBands()[0], leftBytes.data() + 128,
                              900 * 900),
                  0);
        h.Draw();
        EXPECT_GT(CountPixels(h, GL_FRONT_LEFT).image, 1000);
    }
}

// Points files cut short, with impossible counts or bounds, or with records
// that are not numbers or lie outside the stated bounds: each is refused with
// "Open Matched Points error!" and the loaded project stays.
TEST_F(Robustness, BadPointsFilesAreRefusedAndKeepTheEarlierProject) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::string good = demoPoints;
    ASSERT_GT(good.size(), 52u + 32u * 10);
    double minX = 0, maxY = 0, maxX = 0, minY = 0;
    std::memcpy(&minX, good.data() + 4, 8);
    std::memcpy(&maxY, good.data() + 12, 8);
    std::memcpy(&maxX, good.data() + 20, 8);
    std::memcpy(&minY, good.data() + 28, 8);

    struct Case {
        std::string what;
        std::string bytes;
        const char* firstMessage;  // a box shown before the file's own, if any
    };
    std::vector<Case> cases;
    auto spoiled = [&](const std::string& what, auto change, const char* first = nullptr) {
        std::string bytes = good;
        change(bytes);
        cases.push_back({what, bytes, first});
    };
    cases.push_back({"empty file", std::string(), nullptr});
    cases.push_back({"header cut short", good.substr(0, 30), nullptr});
    cases.push_back({"records cut short", good.substr(0, good.size() - 20), nullptr});
    cases.push_back({"last record missing", good.substr(0, good.size() - 32), nullptr});
    spoiled("count zero", [](std::string& b) { Poke<int32_t>(b, 0, 0); });
    spoiled("negative count", [](std::string& b) { Poke<int32_t>(b, 0, -5); });
    spoiled("count beyond the file",
            [](std::string& b) { Poke<int32_t>(b, 0, std::numeric_limits<int32_t>::max()); });
    spoiled("x bounds in the wrong order", [&](std::string& b) {
        Poke<double>(b, 4, maxX);
        Poke<double>(b, 20, minX);
    });
    spoiled("min X not a number", [&](std::string& b) { Poke<double>(b, 4, nan); });
    const char* outside = "There is error in points extension!!";
    spoiled(
        "infinite bounds",
        [&](std::string& b) {
            Poke<double>(b, 4, -inf);
            Poke<double>(b, 20, inf);
        },
        outside);
    spoiled(
        "a record with x not a number", [&](std::string& b) { Poke<double>(b, 52 + 32 * 7, nan); },
        outside);
    spoiled(
        "a record with infinite y", [&](std::string& b) { Poke<double>(b, 52 + 32 * 3 + 8, -inf); },
        outside);
    spoiled("a record with z not a number",
            [&](std::string& b) { Poke<double>(b, 52 + 32 * 9 + 16, nan); });
    spoiled("a record with infinite z", [&](std::string& b) { Poke<double>(b, 52 + 16, inf); });
    spoiled(
        "a record far outside the stated bounds",
        [&](std::string& b) { Poke<double>(b, 52 + 32 * 5, maxX + 1.0e7); }, outside);

    int n = 0;
    for (const Case& c : cases) {
        ProjectPaths paths = DemoPaths();
        paths.matchedPoints = File("bad" + std::to_string(n++) + ".pts");
        WriteAll(paths.matchedPoints, c.bytes);
        ScopedMessageCapture capture;
        ExpectRefused(paths, "Open Matched Points error!", c.what, capture);
        if (c.firstMessage) {
            ASSERT_EQ(capture.Messages().size(), 2u) << c.what;
            EXPECT_EQ(capture.Messages()[0].text, c.firstMessage) << c.what;
        } else {
            EXPECT_EQ(capture.Messages().size(), 1u) << c.what;
        }
    }
    ExpectDemoProjectKept();

    // Y bounds in the other order are accepted: the same project loads again.
    ProjectPaths paths = DemoPaths();
    paths.matchedPoints = File("swapped-y.pts");
    std::string swapped = good;
    Poke<double>(swapped, 12, minY);
    Poke<double>(swapped, 28, maxY);
    WriteAll(paths.matchedPoints, swapped);
    ScopedMessageCapture capture;
    ASSERT_EQ(h.Load(paths), 1);
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(h.doc->m_points.GetCount(), demoCount);
    EXPECT_EQ(h.doc->m_points.m_dMinY, minY);
    EXPECT_EQ(h.doc->m_points.m_dMaxY, maxY);
}

// Orientation files that are short, not numbers, singular or with an overlong
// header word are refused with the file's name; the loaded project stays.
TEST_F(Robustness, BadOrientationFilesAreRefusedAndKeepTheEarlierProject) {
    const double leftXs = h.doc->m_leftPhoto.m_dXs;
    const double rightXs = h.doc->m_rightPhoto.m_dXs;
    const std::string good = ReadAll(DemoPaths().leftOrientation);
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"header only", "ORIENTATION left photo\n"},
        {"cut after the angles", FirstLines(good, 4)},
        {"a word for a number",
         "ORIENTATION a b\n153.0\n500 400 1500\n0.5 -0.3 one\n0 0 0\n"
         "0.02 0 -115\n0 -0.02 115\n0 0\n"},
        {"not a number",
         "ORIENTATION a b\nnan\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
         "0.02 0 -115\n0 -0.02 115\n0 0\n"},
        {"infinite",
         "ORIENTATION a b\n153.0\n500 inf 1500\n0.5 -0.3 1.2\n0 0 0\n"
         "0.02 0 -115\n0 -0.02 115\n0 0\n"},
        {"singular affine",
         "ORIENTATION a b\n153.0\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
         "0 0 -115\n0 -0.02 115\n0 0\n"},
        {"zero focal length",
         "ORIENTATION a b\n0\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
         "0.02 0 -115\n0 -0.02 115\n0 0\n"},
        {"overlong header word", "ORIENTATION " + std::string(5000, 'x') +
                                     " b\n153.0\n500 400 1500\n0.5 -0.3 1.2\n0 0 0\n"
                                     "0.02 0 -115\n0 -0.02 115\n0 0\n"},
        {"binary bytes", std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00\xff\xfe", 10)},
    };
    int n = 0;
    for (const auto& c : cases) {
        for (bool leftSide : {true, false}) {
            ProjectPaths paths = DemoPaths();
            const std::string path = File("bad" + std::to_string(n++) + ".ORN");
            WriteAll(path, c.text);
            (leftSide ? paths.leftOrientation : paths.rightOrientation) = path;
            ScopedMessageCapture capture;
            ExpectRefused(paths,
                          (leftSide ? "Open Left Orientation Parameters File error!\n"
                                    : "Open Right Orientation Parameters File error!\n") +
                              path,
                          c.what, capture);
            EXPECT_EQ(capture.Messages().size(), 1u) << c.what;
            EXPECT_EQ(h.doc->m_leftPhoto.m_dXs, leftXs) << c.what;
            EXPECT_EQ(h.doc->m_rightPhoto.m_dXs, rightXs) << c.what;
        }
    }
    ExpectDemoProjectKept();
}
