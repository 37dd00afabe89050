#include "Orvane/MevrithOpt.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

using DialogSupport::CColorSwatch;
using DialogSupport::DialogUnitsToPixels;

CMevrithOpt::CMevrithOpt(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Options"));
    m_fnChooseColor = [this](RGBColor current) -> std::optional<RGBColor> {
        const QColor chosen = QColorDialog::getColor(QColor(current.r, current.g, current.b), this);
        if (!chosen.isValid()) return std::nullopt;
        return RGBColor{static_cast<unsigned char>(chosen.red()),
                        static_cast<unsigned char>(chosen.green()),
                        static_cast<unsigned char>(chosen.blue())};
    };

    auto* pGrid = new QGridLayout;
    const int editWidth = DialogUnitsToPixels(this, 54, 15).width();
    auto addLabel = [&](const char* text, int row, int column, QWidget* pBuddy) {
        auto* pLabel = new QLabel(QString::fromLatin1(text), this);
        pLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        pLabel->setBuddy(pBuddy);
        pGrid->addWidget(pLabel, row, column);
    };
    auto addEdit = [&](const char* label, int id, int row, int column) {
        auto* pEdit = new QLineEdit(this);
        pEdit->setObjectName(QString::number(id));
        pEdit->setMinimumWidth(editWidth);
        addLabel(label, row, column, pEdit);
        pGrid->addWidget(pEdit, row, column + 1);
        return pEdit;
    };
    auto addSwatch = [&](const char* label, int id, int row, int column, const RGBColor& rgb) {
        auto* pSwatch = new CColorSwatch([&rgb] { return rgb; }, this);
        pSwatch->setObjectName(QString::number(id));
        pSwatch->setFixedSize(DialogUnitsToPixels(this, 31, 13));
        addLabel(label, row, column, nullptr);
        pGrid->addWidget(pSwatch, row, column + 1, Qt::AlignLeft | Qt::AlignVCenter);
        return pSwatch;
    };
    m_pEditXOffset = addEdit("X Offset:", 1006, 0, 0);
    m_pEditYOffset = addEdit("Y Offset:", 1007, 0, 2);
    m_pEditPointSize = addEdit("Point Size:", 1008, 1, 0);
    m_stcPoints = addSwatch("Points Color:", 1012, 1, 2, m_rgbPoints);
    m_pEditZIncrement = addEdit("Z Increment:", 1009, 2, 0);
    m_stcSelected = addSwatch("Points Color: (Selected) ", 1013, 2, 2, m_rgbSelected);
    m_pEditDefaultZ = addEdit("Default Z:", 1010, 3, 0);
    // The ring around the check queue's current suspect.
    m_stcSuspect = addSwatch("Suspect Ring:", 1017, 3, 2, m_rgbSuspect);
    m_pCheckSharpPixels = new QCheckBox(QStringLiteral("Sharp square pixels when zoomed in"), this);
    m_pCheckSharpPixels->setObjectName(QStringLiteral("1020"));
    pGrid->addWidget(m_pCheckSharpPixels, 6, 0, 1, 4);
    m_pCheckKeepXY = new QCheckBox(QStringLiteral("Height fixes keep X and Y"), this);
    m_pCheckKeepXY->setObjectName(QStringLiteral("1050"));
    pGrid->addWidget(m_pCheckKeepXY, 7, 0, 1, 4);
    CColorSwatch* contours = addSwatch("Contours:", 1031, 4, 0, m_rgbContours);
    CColorSwatch* index = addSwatch("Index Contours:", 1032, 4, 2, m_rgbIndexContours);
    CColorSwatch* triangles = addSwatch("Triangles:", 1033, 5, 0, m_rgbTriangles);
    contours->m_onClicked = [this] { ChooseColor(m_rgbContours); };
    index->m_onClicked = [this] { ChooseColor(m_rgbIndexContours); };
    triangles->m_onClicked = [this] { ChooseColor(m_rgbTriangles); };
    m_stcPoints->m_onClicked = [this] { OnPointsColor(); };
    m_stcSelected->m_onClicked = [this] { OnSelectedColor(); };
    m_stcSuspect->m_onClicked = [this] { ChooseColor(m_rgbSuspect); };
    pGrid->setVerticalSpacing(DialogUnitsToPixels(this, 0, 6).height());
    pGrid->setColumnMinimumWidth(2, DialogUnitsToPixels(this, 43, 0).width());
    pGrid->setHorizontalSpacing(DialogUnitsToPixels(this, 5, 0).width());
    // A gap between the left and the right column of fields.
    pGrid->setColumnMinimumWidth(1, editWidth + DialogUnitsToPixels(this, 12, 0).width());

    DialogSupport::LayOutWithOkCancel(this, pGrid, 8, DialogSupport::ButtonOrder::CancelThenOk);
}

bool CMevrithOpt::UpdateData(bool bSaveAndValidate) {
    DialogSupport::CDataExchange dx(bSaveAndValidate);
    // Point size first, checked against its range before the other fields are
    // read, so a refused size leaves them untouched.
    int nPointSize = m_nPointSize;
    dx.Text(m_pEditPointSize, nPointSize);
    dx.MinMaxInt(m_pEditPointSize, nPointSize, kMinPointSize, kMaxPointSize);
    if (dx.Ok()) m_nPointSize = nPointSize;
    dx.Text(m_pEditXOffset, m_nXOffset);
    dx.Text(m_pEditYOffset, m_nYOffset);
    dx.Text(m_pEditZIncrement, m_dZIncrement);
    dx.Text(m_pEditDefaultZ, m_dDefaultZ);
    if (bSaveAndValidate) {
        if (dx.Ok()) {
            m_bSharpPixels = m_pCheckSharpPixels->isChecked();
            m_bFixesKeepXY = m_pCheckKeepXY->isChecked();
        }
    } else {
        m_pCheckSharpPixels->setChecked(m_bSharpPixels);
        m_pCheckKeepXY->setChecked(m_bFixesKeepXY);
    }
    if (!bSaveAndValidate) update();  // the swatches paint the members' colours
    return dx.Ok();
}

void CMevrithOpt::ChooseColor(RGBColor& rgbMember) {
    if (!m_fnChooseColor) return;
    const std::optional<RGBColor> chosen = m_fnChooseColor(rgbMember);
    if (!chosen) return;
    rgbMember = *chosen;
    repaint();
}

void CMevrithOpt::OnPointsColor() {
    ChooseColor(m_rgbPoints);
}

void CMevrithOpt::OnSelectedColor() {
    ChooseColor(m_rgbSelected);
}

void CMevrithOpt::accept() {
    if (UpdateData(true)) QDialog::accept();
}

void CMevrithOpt::showEvent(QShowEvent* pEvent) {
    if (!pEvent->spontaneous()) UpdateData(false);
    QDialog::showEvent(pEvent);
}
