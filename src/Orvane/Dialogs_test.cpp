// Tests of the four modal dialogs and their shared data exchange, run on a real
// X server (xcb platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Orvane/3DCoordInput.h"
#include "Orvane/3DImgInput.h"
#include "Orvane/DialogSupport.h"
#include "Orvane/MevrithOpt.h"
#include "Orvane/ValueInput.h"
#include "Platform/Platform.h"

namespace {

// The test program's one application object, created on first use unless
// another test file of the program created one already. It is destroyed when
// the test run ends, before the exit handlers tear down Qt's own globals.
class QtApplicationOwner : public ::testing::Environment {
public:
    explicit QtApplicationOwner(std::unique_ptr<QApplication>& app) : m_app(app) {}
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication>& m_app;
};

QApplication& EnsureApp() {
    if (auto* pApp = qobject_cast<QApplication*>(QCoreApplication::instance())) return *pApp;
    static int argc = 1;
    static char arg0[] = "Orvane_tests";
    static char* argv[] = {arg0, nullptr};
    static std::unique_ptr<QApplication> app;
    app = std::make_unique<QApplication>(argc, argv);
    ::testing::AddGlobalTestEnvironment(new QtApplicationOwner(app));
    return *app;
}

// Processes events until the condition holds or ten seconds have passed (a
// guard against a hang, not a timing check); returns the condition.
bool ProcessUntil(const std::function<bool()>& condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

void ShowAndWait(QWidget& widget) {
    widget.show();
    ASSERT_TRUE(ProcessUntil(
        [&] { return widget.windowHandle() != nullptr && widget.windowHandle()->isExposed(); }));
}

QLineEdit* Edit(const QWidget& dialog, int id) {
    return dialog.findChild<QLineEdit*>(QString::number(id));
}

QPushButton* Button(const QWidget& dialog, int id) {
    return dialog.findChild<QPushButton*>(QString::number(id));
}

// Runs the dialog modally; `during` runs inside its event loop. A dialog that
// fails to close is ended with code 99 after ten seconds.
int RunModal(QDialog& dialog, const std::function<void()>& during) {
    QTimer::singleShot(0, &dialog, [&] {
        ProcessUntil(
            [&] { return dialog.windowHandle() != nullptr && dialog.windowHandle()->isExposed(); });
        during();
    });
    QTimer watchdog;  // stopped when this run returns, so it never ends a later run
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] { dialog.done(99); });
    watchdog.start(10000);
    return dialog.exec();
}

void SendKey(QWidget* pTarget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(pTarget, &release);
}

void Click(QWidget* pTarget) {
    const QPointF local(pTarget->width() / 2.0, pTarget->height() / 2.0);
    const QPointF global = pTarget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(pTarget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(pTarget, &release);
}

// The colour on the X server's screen at the centre of a widget, as "#rrggbb".
std::string ScreenColorAtCentre(const QWidget* pWidget) {
    const QPoint global = pWidget->mapToGlobal(QPoint(pWidget->width() / 2, pWidget->height() / 2));
    const QPixmap shot = pWidget->screen()->grabWindow(0, global.x(), global.y(), 1, 1);
    return shot.toImage().pixelColor(0, 0).name().toStdString();
}

// Every visible child control lies inside the dialog, no two overlap, and no
// label is narrower than its text.
void ExpectNeatLayout(const QDialog& dialog) {
    std::vector<QWidget*> controls;
    for (QWidget* pChild : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (pChild->isVisible()) controls.push_back(pChild);
    }
    ASSERT_FALSE(controls.empty());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const QRect r = controls[i]->geometry();
        EXPECT_TRUE(dialog.rect().contains(r)) << controls[i]->objectName().toStdString();
        if (auto* pLabel = qobject_cast<QLabel*>(controls[i])) {
            EXPECT_GE(r.width(), pLabel->sizeHint().width()) << pLabel->text().toStdString();
        }
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(r.intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " / "
                << controls[j]->objectName().toStdString();
        }
    }
}

}  // namespace

void PrintTo(const RGBColor& color, std::ostream* pOut) {
    *pOut << "RGB(" << int(color.r) << ", " << int(color.g) << ", " << int(color.b) << ")";
}

// ---- shared data exchange ----------------------------------------------------

TEST(DialogSupport, ParsesNumbersAsTheEditBoxesAcceptThem) {
    using DialogSupport::ParseInt;
    using DialogSupport::ParseReal;
    EXPECT_EQ(ParseReal("250"), 250.0);
    EXPECT_EQ(ParseReal(" -0.25 "), -0.25);
    EXPECT_EQ(ParseReal("+1e3"), 1000.0);
    EXPECT_EQ(ParseReal(".5"), 0.5);
    for (const char* bad : {"", "  ", "abc", "1.5x", "1,5", "nan", "inf", "-inf", "1e999", "+-1"})
        EXPECT_FALSE(ParseReal(bad).has_value()) << bad;

    EXPECT_EQ(ParseInt(" 12 "), 12);
    EXPECT_EQ(ParseInt("-7"), -7);
    EXPECT_EQ(ParseInt("+5"), 5);
    for (const char* bad : {"", "2.5", "1e2", "x1", "3000000000", "+-5", "0x10"})
        EXPECT_FALSE(ParseInt(bad).has_value()) << bad;
}

TEST(DialogSupport, FormatsRealsShortAndReadsThemBackExactly) {
    using DialogSupport::FormatReal;
    EXPECT_EQ(FormatReal(0.03), "0.03");
    EXPECT_EQ(FormatReal(1.0), "1");
    EXPECT_EQ(FormatReal(4000000.0), "4000000");
    EXPECT_EQ(FormatReal(-1234.5), "-1234.5");
    for (double value : {0.1 + 0.2, 1.0 / 3.0, 654321.123456789012, 1e-300}) {
        EXPECT_EQ(DialogSupport::ParseReal(FormatReal(value)), value) << FormatReal(value);
    }
}

TEST(DialogSupport, ConvertsFileFiltersToQtNameFilters) {
    using DialogSupport::QtFileFilter;
    EXPECT_EQ(QtFileFilter(C3DImgInput::kImageFilter),
              "Image Files (*.lan);;TIFF Images (*.tif *.tiff);;All Files (*)");
    EXPECT_EQ(QtFileFilter(C3DImgInput::kPointsFilter), "Points Files (*.pts);;All Files (*)");
    EXPECT_EQ(QtFileFilter("Pictures|*.lan; *.img|"), "Pictures (*.lan *.img)");
    EXPECT_EQ(QtFileFilter(""), "");
}

// ---- image-pair picker -------------------------------------------------------

TEST(ImagePairPicker, ProposesTheOrientationFileFromTheLastDotOfTheFileName) {
    EXPECT_EQ(OrientationPathFor("left.photo.lan"), "left.photo.ORN");
    EXPECT_EQ(OrientationPathFor("/demo/left.lan"), "/demo/left.ORN");
    EXPECT_EQ(OrientationPathFor("/demo/v1.2/left.lan"), "/demo/v1.2/left.ORN");
    // A name without a dot keeps the whole path; a dot in a folder never counts.
    EXPECT_EQ(OrientationPathFor("left"), "left.ORN");
    EXPECT_EQ(OrientationPathFor("/demo/v1.2/left"), "/demo/v1.2/left.ORN");
}

TEST(ImagePairPicker, BrowseSetsPathsAndProposesOrientations) {
    EnsureApp();
    C3DImgInput dialog;
    std::vector<std::pair<std::string, std::string>> asked;
    std::string answer;
    dialog.m_fnChooseFile = [&](const std::string& title, const std::string& filter) {
        asked.emplace_back(title, filter);
        return answer;
    };
    ShowAndWait(dialog);

    answer = "/demo/left.photo.lan";
    Button(dialog, 1001)->click();
    answer = "/demo/right.lan";
    Button(dialog, 1003)->click();
    answer = "/demo/points.pts";
    Button(dialog, 1005)->click();

    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].first, "Choose a Image.");
    EXPECT_EQ(
        asked[0].second,
        "Image Files (*.lan)|*.lan|TIFF Images (*.tif;*.tiff)|*.tif;*.tiff|All Files (*.*)|*.*|");
    EXPECT_EQ(asked[1], asked[0]);
    EXPECT_EQ(asked[2].first, "Choose a Point File.");
    EXPECT_EQ(asked[2].second, "Points Files (*.pts)|*.pts|All Files (*.*)|*.*|");

    EXPECT_EQ(dialog.m_strLeftImage, "/demo/left.photo.lan");
    EXPECT_EQ(dialog.m_strLeftOrientation, "/demo/left.photo.ORN");
    EXPECT_EQ(dialog.m_strRightImage, "/demo/right.lan");
    EXPECT_EQ(dialog.m_strRightOrientation, "/demo/right.ORN");
    EXPECT_EQ(dialog.m_strMatchedPoints, "/demo/points.pts");
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/demo/left.photo.lan");
    EXPECT_EQ(Edit(dialog, 1002)->text(), "/demo/right.lan");
    EXPECT_EQ(Edit(dialog, 1004)->text(), "/demo/points.pts");

    // OK keeps all five paths.
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.m_strLeftOrientation, "/demo/left.photo.ORN");
    EXPECT_EQ(dialog.m_strRightOrientation, "/demo/right.ORN");
}

TEST(ImagePairPicker, BrowseCopiesStoredValuesOverUnconfirmedTextAndCancelChangesNothing) {
    EnsureApp();
    C3DImgInput dialog;
    dialog.m_strLeftImage = "/demo/a.lan";
    dialog.m_strLeftOrientation = "/demo/a.ORN";
    dialog.m_strMatchedPoints = "/demo/a.pts";
    std::string answer;  // empty: the chooser is cancelled
    dialog.m_fnChooseFile = [&](const std::string&, const std::string&) { return answer; };
    ShowAndWait(dialog);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/demo/a.lan");
    EXPECT_EQ(Edit(dialog, 1004)->text(), "/demo/a.pts");

    Edit(dialog, 1002)->setText("typed-right.lan");
    Edit(dialog, 1004)->setText("typed.pts");
    dialog.OnBrowseLeft();  // cancelled
    EXPECT_EQ(dialog.m_strLeftImage, "/demo/a.lan");
    EXPECT_EQ(dialog.m_strLeftOrientation, "/demo/a.ORN");
    EXPECT_EQ(Edit(dialog, 1002)->text(), "");
    EXPECT_EQ(Edit(dialog, 1004)->text(), "/demo/a.pts");

    Edit(dialog, 1000)->setText("typed-left.lan");
    answer = "/demo/b.lan";
    dialog.OnBrowseRight();
    EXPECT_EQ(Edit(dialog, 1000)->text(), "/demo/a.lan");
    EXPECT_EQ(Edit(dialog, 1002)->text(), "/demo/b.lan");
    EXPECT_EQ(dialog.m_strRightOrientation, "/demo/b.ORN");

    answer.clear();
    dialog.OnBrowsePoints();
    EXPECT_EQ(dialog.m_strMatchedPoints, "/demo/a.pts");
}

TEST(ImagePairPicker, PathsTypedByHandProposeTheirOrientationAsBrowseDoes) {
    EnsureApp();
    C3DImgInput dialog;
    dialog.m_fnChooseFile = [](const std::string&, const std::string&) {
        return std::string("/demo/left.lan");
    };
    ShowAndWait(dialog);
    dialog.OnBrowseLeft();
    Edit(dialog, 1000)->setText("/demo/v1.2/other.lan");  // changed by hand after Browse
    Edit(dialog, 1002)->setText("/demo/right");           // typed, never browsed
    Edit(dialog, 1004)->setText("/demo/points.pts");
    ASSERT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.m_strLeftImage, "/demo/v1.2/other.lan");
    EXPECT_EQ(dialog.m_strLeftOrientation, "/demo/v1.2/other.ORN");
    EXPECT_EQ(dialog.m_strRightImage, "/demo/right");
    EXPECT_EQ(dialog.m_strRightOrientation, "/demo/right.ORN");
    EXPECT_EQ(dialog.m_strMatchedPoints, "/demo/points.pts");

    // An emptied image path carries no orientation.
    Edit(dialog, 1002)->setText("");
    ASSERT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.m_strRightOrientation, "");
}

TEST(ImagePairPicker, DefaultChooserIsAFileDialogInTheWorkingFolder) {
    EnsureApp();
    C3DImgInput dialog;
    QString title, directory;
    QStringList filters;
    const int code = RunModal(dialog, [&] {
        // The file dialog opens inside Browse; inspect and cancel it from a timer.
        QTimer::singleShot(0, &dialog, [&] {
            QFileDialog* pFiles = nullptr;
            ProcessUntil([&] {
                pFiles = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                return pFiles != nullptr && pFiles->isVisible();
            });
            if (pFiles != nullptr) {
                title = pFiles->windowTitle();
                directory = pFiles->directory().absolutePath();
                filters = pFiles->nameFilters();
                pFiles->reject();
            }
        });
        dialog.OnBrowseLeft();
        dialog.reject();
    });
    EXPECT_EQ(code, QDialog::Rejected);
    EXPECT_EQ(title, "Choose a Image.");
    EXPECT_EQ(directory, QDir::current().absolutePath());
    EXPECT_EQ(filters,
              QStringList({"Image Files (*.lan)", "TIFF Images (*.tif *.tiff)", "All Files (*)"}));
    EXPECT_TRUE(dialog.m_strLeftImage.empty());
}

// ---- XYZ input ---------------------------------------------------------------

TEST(XYZInput, ExchangesRealsAndRefusesTextThatIsNotANumber) {
    EnsureApp();
    C3DCoordInput dialog;
    EXPECT_EQ(dialog.windowTitle(), "Please Input XYZ");
    dialog.m_dX = 654321.5;
    dialog.m_dY = -0.25;
    dialog.m_dZ = 1250.0;
    ShowAndWait(dialog);
    EXPECT_EQ(Edit(dialog, 1014)->text(), "654321.5");
    EXPECT_EQ(Edit(dialog, 1015)->text(), "-0.25");
    EXPECT_EQ(Edit(dialog, 1016)->text(), "1250");

    Edit(dialog, 1014)->setText("12");
    Edit(dialog, 1015)->setText("13.5");
    Edit(dialog, 1016)->setText("abc");
    {
        Platform::ScopedMessageCapture capture;
        Button(dialog, 1)->click();
        ASSERT_EQ(capture.Texts(), std::vector<std::string>{"Please enter a number."});
        EXPECT_EQ(capture.Messages()[0].kind, Platform::MessageKind::Plain);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), Edit(dialog, 1016));
    EXPECT_EQ(dialog.m_dZ, 1250.0);

    Edit(dialog, 1016)->setText("-14");
    Button(dialog, 1)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_dX, 12.0);
    EXPECT_EQ(dialog.m_dY, 13.5);
    EXPECT_EQ(dialog.m_dZ, -14.0);
}

TEST(XYZInput, EnterConfirmsAndCancelKeepsTheValues) {
    EnsureApp();
    C3DCoordInput dialog;
    int code = RunModal(dialog, [&] {
        Edit(dialog, 1015)->setText("7");
        SendKey(Edit(dialog, 1015), Qt::Key_Return);
    });
    EXPECT_EQ(code, QDialog::Accepted);
    EXPECT_EQ(dialog.m_dY, 7.0);

    code = RunModal(dialog, [&] {
        EXPECT_EQ(Edit(dialog, 1015)->text(), "7");
        Edit(dialog, 1015)->setText("8");
        Button(dialog, 2)->click();
    });
    EXPECT_EQ(code, QDialog::Rejected);
    EXPECT_EQ(dialog.m_dY, 7.0);
}

// ---- new-Z input -------------------------------------------------------------

TEST(NewZInput, HasOneEditNoButtonsAndNoSystemMenu) {
    EnsureApp();
    CValueInput dialog;
    EXPECT_EQ(dialog.windowTitle(), "Please input the new Z.");
    EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
    EXPECT_EQ(dialog.findChildren<QLineEdit*>().size(), 1);
    EXPECT_NE(Edit(dialog, 1011), nullptr);
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

TEST(NewZInput, EnterConfirmsEscapeCancelsAndBadTextKeepsItOpen) {
    EnsureApp();
    CValueInput dialog;
    EXPECT_EQ(dialog.m_dValue, 1.0);
    QString shown;
    int code = RunModal(dialog, [&] {
        shown = Edit(dialog, 1011)->text();
        Edit(dialog, 1011)->setText("250");
        SendKey(Edit(dialog, 1011), Qt::Key_Return);
    });
    EXPECT_EQ(shown, "1");
    EXPECT_EQ(code, QDialog::Accepted);
    EXPECT_EQ(dialog.m_dValue, 250.0);

    code = RunModal(dialog, [&] {
        Edit(dialog, 1011)->setText("7");
        SendKey(Edit(dialog, 1011), Qt::Key_Escape);
    });
    EXPECT_EQ(code, QDialog::Rejected);
    EXPECT_EQ(dialog.m_dValue, 250.0);

    Platform::ScopedMessageCapture capture;
    bool openAfterBadEnter = false;
    code = RunModal(dialog, [&] {
        Edit(dialog, 1011)->setText("12a");
        SendKey(Edit(dialog, 1011), Qt::Key_Enter);
        openAfterBadEnter = dialog.isVisible();
        SendKey(Edit(dialog, 1011), Qt::Key_Escape);
    });
    EXPECT_TRUE(openAfterBadEnter);
    EXPECT_EQ(code, QDialog::Rejected);
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Please enter a number."});
    EXPECT_EQ(dialog.m_dValue, 250.0);
}

// ---- Options -----------------------------------------------------------------

TEST(OptionsDialog, ExchangesEveryValueBothWays) {
    EnsureApp();
    CMevrithOpt dialog;
    EXPECT_EQ(dialog.m_rgbPoints, (RGBColor{255, 0, 0}));
    EXPECT_EQ(dialog.m_nPointSize, 1);
    EXPECT_EQ(dialog.m_dZIncrement, 0.03);
    dialog.m_rgbPoints = {0, 255, 255};
    dialog.m_nPointSize = 3;
    dialog.m_nXOffset = -12;
    dialog.m_nYOffset = 4;
    dialog.m_dZIncrement = 0.24;
    dialog.m_dDefaultZ = 312.5;
    ShowAndWait(dialog);
    EXPECT_EQ(Edit(dialog, 1006)->text(), "-12");
    EXPECT_EQ(Edit(dialog, 1007)->text(), "4");
    EXPECT_EQ(Edit(dialog, 1008)->text(), "3");
    EXPECT_EQ(Edit(dialog, 1009)->text(), "0.24");
    EXPECT_EQ(Edit(dialog, 1010)->text(), "312.5");

    Edit(dialog, 1006)->setText("5");
    Edit(dialog, 1007)->setText("-6");
    Edit(dialog, 1008)->setText("7");
    Edit(dialog, 1009)->setText("0.5");
    Edit(dialog, 1010)->setText("-2.25");
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.m_nXOffset, 5);
    EXPECT_EQ(dialog.m_nYOffset, -6);
    EXPECT_EQ(dialog.m_nPointSize, 7);
    EXPECT_EQ(dialog.m_dZIncrement, 0.5);
    EXPECT_EQ(dialog.m_dDefaultZ, -2.25);
    EXPECT_EQ(dialog.m_rgbPoints, (RGBColor{0, 255, 255}));
}

TEST(OptionsDialog, PointSizeMustLieBetweenOneAndHundred) {
    EnsureApp();
    CMevrithOpt dialog;
    dialog.m_nXOffset = 9;
    ShowAndWait(dialog);
    for (const char* refused : {"0", "101", "-3"}) {
        Platform::ScopedMessageCapture capture;
        Edit(dialog, 1008)->setText(refused);
        Edit(dialog, 1006)->setText("10");
        Button(dialog, 1)->click();
        EXPECT_EQ(capture.Texts(),
                  std::vector<std::string>{"Please enter an integer between 1 and 100."})
            << refused;
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), Edit(dialog, 1008));
        EXPECT_EQ(dialog.m_nPointSize, 1);
        EXPECT_EQ(dialog.m_nXOffset, 9);  // later fields are not read
    }
    for (const char* accepted : {"1", "100"}) {
        Platform::ScopedMessageCapture capture;
        Edit(dialog, 1008)->setText(accepted);
        EXPECT_TRUE(dialog.UpdateData(true)) << accepted;
        EXPECT_TRUE(capture.Texts().empty());
        EXPECT_EQ(dialog.m_nPointSize, std::stoi(accepted));
    }
}

TEST(OptionsDialog, RefusesFieldsThatAreNotNumbersAndStaysOpen) {
    EnsureApp();
    CMevrithOpt dialog;
    ShowAndWait(dialog);
    struct Case {
        int id;
        const char* text;
        const char* message;
    };
    for (const Case& c : {Case{1007, "2.5", "Please enter an integer."},
                          Case{1008, "big", "Please enter an integer."},
                          Case{1009, "0.0.1", "Please enter a number."},
                          Case{1010, "", "Please enter a number."}}) {
        dialog.UpdateData(false);
        Edit(dialog, c.id)->setText(c.text);
        Platform::ScopedMessageCapture capture;
        Button(dialog, 1)->click();
        EXPECT_EQ(capture.Texts(), std::vector<std::string>{c.message}) << c.id;
        EXPECT_TRUE(dialog.isVisible()) << c.id;
        EXPECT_EQ(dialog.focusWidget(), Edit(dialog, c.id));
        EXPECT_EQ(Edit(dialog, c.id)->selectedText(), c.text);
    }
    EXPECT_EQ(dialog.m_dZIncrement, 0.03);
    EXPECT_EQ(dialog.m_dDefaultZ, 0.0);
}

TEST(OptionsDialog, SwatchClickChangesTheColourAndRepaintsAtOnce) {
    EnsureApp();
    CMevrithOpt dialog;
    dialog.m_rgbPoints = {0, 255, 255};
    dialog.m_rgbSelected = {255, 255, 0};
    std::vector<RGBColor> startedFrom;
    std::optional<RGBColor> answer;
    dialog.m_fnChooseColor = [&](RGBColor current) {
        startedFrom.push_back(current);
        return answer;
    };
    ShowAndWait(dialog);
    QWidget* pPoints = dialog.findChild<QWidget*>("1012");
    QWidget* pSelected = dialog.findChild<QWidget*>("1013");
    ASSERT_NE(pPoints, nullptr);
    ASSERT_NE(pSelected, nullptr);
    ASSERT_TRUE(ProcessUntil([&] { return ScreenColorAtCentre(pPoints) == "#00ffff"; }));
    EXPECT_EQ(ScreenColorAtCentre(pSelected), "#ffff00");

    // Cancelled chooser: nothing changes.
    Click(pPoints);
    ASSERT_EQ(startedFrom.size(), 1u);
    EXPECT_EQ(startedFrom[0], (RGBColor{0, 255, 255}));
    EXPECT_EQ(dialog.m_rgbPoints, (RGBColor{0, 255, 255}));

    // Chosen colour: the member at once, and the swatch on the screen (a
    // missing repaint leaves the old colour there for good).
    answer = RGBColor{10, 20, 200};
    Click(pPoints);
    EXPECT_EQ(dialog.m_rgbPoints, (RGBColor{10, 20, 200}));
    EXPECT_TRUE(ProcessUntil([&] { return ScreenColorAtCentre(pPoints) == "#0a14c8"; }));
    EXPECT_EQ(dialog.m_rgbSelected, (RGBColor{255, 255, 0}));

    answer = RGBColor{0, 128, 0};
    Click(pSelected);
    ASSERT_EQ(startedFrom.size(), 3u);
    EXPECT_EQ(startedFrom[2], (RGBColor{255, 255, 0}));
    EXPECT_EQ(dialog.m_rgbSelected, (RGBColor{0, 128, 0}));
    EXPECT_TRUE(ProcessUntil([&] { return ScreenColorAtCentre(pSelected) == "#008000"; }));
    EXPECT_EQ(dialog.m_rgbPoints, (RGBColor{10, 20, 200}));

    // The colours survive OK and are the dialog's result.
    Button(dialog, 1)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_rgbSelected, (RGBColor{0, 128, 0}));
}

// ---- layout ------------------------------------------------------------------

TEST(DialogLayout, ControlsFitWithoutOverlapAndCarryTheirTexts) {
    EnsureApp();
    {
        C3DImgInput dialog;
        ShowAndWait(dialog);
        EXPECT_EQ(dialog.windowTitle(), "Please Pick a Orvane Images Pair");
        ExpectNeatLayout(dialog);
        for (int id : {1000, 1002, 1004}) EXPECT_NE(Edit(dialog, id), nullptr) << id;
        for (int id : {1001, 1003, 1005}) EXPECT_EQ(Button(dialog, id)->text(), "Browse");
        EXPECT_TRUE(Button(dialog, 1)->isDefault());
    }
    {
        C3DCoordInput dialog;
        ShowAndWait(dialog);
        ExpectNeatLayout(dialog);
        EXPECT_TRUE(Button(dialog, 1)->isDefault());
        EXPECT_EQ(Button(dialog, 2)->text(), "Cancel");
    }
    {
        CValueInput dialog;
        ShowAndWait(dialog);
        ExpectNeatLayout(dialog);
    }
    {
        CMevrithOpt dialog;
        ShowAndWait(dialog);
        EXPECT_EQ(dialog.windowTitle(), "Options");
        ExpectNeatLayout(dialog);
        QStringList labels;
        for (QLabel* pLabel : dialog.findChildren<QLabel*>()) labels << pLabel->text();
        labels.sort();
        QStringList expected{"X Offset:",       "Y Offset:",     "Point Size:",
                             "Points Color:",   "Z Increment:",  "Points Color: (Selected) ",
                             "Default Z:",      "Suspect Ring:", "Contours:",
                             "Index Contours:", "Triangles:"};
        expected.sort();
        EXPECT_EQ(labels, expected);
        EXPECT_TRUE(Button(dialog, 1)->isDefault());
    }
}
