// The Options dialog of the editing view: point colours, point size, the
// alignment offsets of the right image, the height step and the height of new
// points.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "Orvane/DialogSupport.h"

class QCheckBox;
class QLineEdit;

class CMevrithOpt : public QDialog {
public:
    enum { IDD = 131 };
    static constexpr int kMinPointSize = 1;
    static constexpr int kMaxPointSize = 100;

    // Lets the operator pick a colour starting from the given one; returns the
    // chosen colour, or nothing when the chooser is cancelled.
    using ColorChooser = std::function<std::optional<RGBColor>(RGBColor current)>;

    explicit CMevrithOpt(QWidget* pParent = nullptr);

    // Shows the dialog modally (the members fill the controls when it opens);
    // returns QDialog::Accepted after a valid OK, QDialog::Rejected otherwise.
    int DoModal() { return exec(); }

    // true: edits -> members in the order point size (1 to 100), X offset,
    // Y offset, Z increment, default Z; the first refused field shows its
    // message, takes the focus and makes the result false. false: members ->
    // edits and swatches.
    bool UpdateData(bool bSaveAndValidate = true);

    // Swatch 1012 / 1013 clicked: the colour chooser starts from the member's
    // colour; on OK the member takes the chosen colour and the dialog is
    // repainted at once. A cancelled chooser changes nothing.
    void OnPointsColor();
    void OnSelectedColor();

    // OK: reads the edits and closes only if they were accepted.
    void accept() override;

    RGBColor m_rgbPoints{255, 0, 0};
    RGBColor m_rgbSelected{255, 255, 0};
    DialogSupport::CColorSwatch* m_stcSelected = nullptr;  // 1013
    DialogSupport::CColorSwatch* m_stcPoints = nullptr;    // 1012
    RGBColor m_rgbSuspect{255, 0, 255};                    // the current suspect's ring
    DialogSupport::CColorSwatch* m_stcSuspect = nullptr;   // 1017
    int m_nPointSize = 1;                                  // pixels
    int m_nXOffset = 0;                                    // client pixels
    int m_nYOffset = 0;                                    // client pixels
    double m_dZIncrement = 0.03;                           // ground units per wheel notch
    double m_dDefaultZ = 0.0;                              // ground Z
    // Zoomed in, each image pixel a sharp square rather than smoothed between pixels.
    bool m_bSharpPixels = false;  // 1020
    // Set To Surface and Match Z change Z only (gridded terrain models).
    bool m_bFixesKeepXY = false;  // 1050
    // The surface drawn over the photographs.
    RGBColor m_rgbContours{255, 160, 0};      // 1031
    RGBColor m_rgbIndexContours{255, 96, 0};  // 1032
    RGBColor m_rgbTriangles{0, 200, 0};       // 1033

    // The colour chooser; by default the colour dialog owned by this dialog.
    // Tests replace it.
    ColorChooser m_fnChooseColor;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    void ChooseColor(RGBColor& rgbMember);

    QLineEdit* m_pEditXOffset = nullptr;       // 1006
    QLineEdit* m_pEditYOffset = nullptr;       // 1007
    QLineEdit* m_pEditPointSize = nullptr;     // 1008
    QLineEdit* m_pEditZIncrement = nullptr;    // 1009
    QLineEdit* m_pEditDefaultZ = nullptr;      // 1010
    QCheckBox* m_pCheckSharpPixels = nullptr;  // 1020
    QCheckBox* m_pCheckKeepXY = nullptr;       // 1050
};
