// Pieces shared by the application's modal dialogs: the RGB colour record,
// data exchange between edit boxes and members (with the refusal messages of
// bad input), dialog-unit sizing, the file-filter conversion and the clickable
// colour swatch of the Options dialog.
#pragma once

#include <QFrame>
#include <QSize>
#include <functional>
#include <optional>
#include <string>

class QDialog;
class QLayout;
class QLineEdit;
class QWidget;

// A colour as three bytes, red, green, blue (the view keeps its point colours
// in this form and the Options dialog edits them).
struct RGBColor {
    unsigned char r, g, b;
    friend bool operator==(const RGBColor&, const RGBColor&) = default;
};

namespace DialogSupport {

// Texts of the refusal messages shown when an edit box holds bad input.
inline constexpr const char* kEnterNumber = "Please enter a number.";
inline constexpr const char* kEnterInteger = "Please enter an integer.";
// "Please enter an integer between <min> and <max>."
std::string EnterIntegerBetween(int nMin, int nMax);

// Text of a real for an edit box: 15 significant digits (so 0.03 shows as
// "0.03"), or 17 when 15 would not read back as the same value.
std::string FormatReal(double dValue);
// Reads a real written in the C locale's form, surrounded by optional blanks.
// Refuses anything else, values out of the double range, infinities and NaN.
std::optional<double> ParseReal(const std::string& text);
// Reads a decimal int with an optional sign, surrounded by optional blanks.
// Refuses anything else and values outside the int range.
std::optional<int> ParseInt(const std::string& text);

// Converts a file-open filter of the form "Desc|pattern|Desc|pattern|" into a
// Qt name filter list "Desc (pattern);;...". "*.*" stands for every file and
// becomes "*" (a name without a dot must match too); several patterns of one
// entry, separated by ";", become a space separated list.
std::string QtFileFilter(const std::string& filter);

// Pixel size of a size given in dialog units of the widget's font: one unit
// across is a quarter of the font's average character width, one unit down an
// eighth of its height.
QSize DialogUnitsToPixels(const QWidget* pWidget, int nWidth, int nHeight);

// The dialog's main layout: its fields, a gap of `gapUnits` dialog units, and
// the row of OK (default, object name "1") and Cancel ("2") buttons, 50 x 14
// units each, in the order the template places them. OK runs accept(), Cancel
// reject(); the dialog keeps the size its contents need.
enum class ButtonOrder { OkThenCancel, CancelThenOk };
void LayOutWithOkCancel(QDialog* pDialog, QLayout* pFields, int gapUnits, ButtonOrder order);

// Data exchange between edit boxes and members, one dialog pass at a time.
// When saving, every call reads the edit into the member; the first refused
// field shows its message (plain box), takes the focus with its text selected
// and stops the pass: later calls do nothing and Ok() turns false. When not
// saving, every call writes the member into its edit.
class CDataExchange {
public:
    explicit CDataExchange(bool bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate) {}

    // Path or free text; members hold the local 8-bit file name encoding.
    void Text(QLineEdit* pEdit, std::string& strValue);
    void Text(QLineEdit* pEdit, double& dValue);
    void Text(QLineEdit* pEdit, int& nValue);
    // The integer just exchanged through pEdit must lie in [nMin, nMax].
    void MinMaxInt(QLineEdit* pEdit, int nValue, int nMin, int nMax);

    bool Ok() const { return !m_bFailed; }
    bool SaveAndValidate() const { return m_bSaveAndValidate; }

private:
    void Fail(QLineEdit* pEdit, const std::string& text);

    bool m_bSaveAndValidate;
    bool m_bFailed = false;
};

// A framed colour patch that shows the colour its source returns each time it
// is painted and calls its click handler when the left button is released
// over it.
class CColorSwatch : public QFrame {
public:
    CColorSwatch(std::function<RGBColor()> source, QWidget* pParent);

    RGBColor Color() const { return m_source(); }
    std::function<void()> m_onClicked;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    std::function<RGBColor()> m_source;
    bool m_bPressed = false;
};

}  // namespace DialogSupport
