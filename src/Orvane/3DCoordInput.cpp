#include "Orvane/3DCoordInput.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "Orvane/DialogSupport.h"

using DialogSupport::DialogUnitsToPixels;

C3DCoordInput::C3DCoordInput(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Please Input XYZ"));

    auto* pGrid = new QGridLayout;
    const int editWidth = DialogUnitsToPixels(this, 97, 13).width();
    auto addRow = [&](int row, const char* label, int editId) {
        auto* pLabel = new QLabel(QString::fromLatin1(label), this);
        pLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* pEdit = new QLineEdit(this);
        pEdit->setObjectName(QString::number(editId));
        pEdit->setMinimumWidth(editWidth);
        pLabel->setBuddy(pEdit);
        pGrid->addWidget(pLabel, row, 0);
        pGrid->addWidget(pEdit, row, 1);
        return pEdit;
    };
    m_pEditX = addRow(0, "X:", 1014);
    m_pEditY = addRow(1, "Y:", 1015);
    m_pEditZ = addRow(2, "Z:", 1016);
    pGrid->setVerticalSpacing(DialogUnitsToPixels(this, 0, 9).height());
    // Indent the rows as the buttons below are spread.
    pGrid->setContentsMargins(DialogUnitsToPixels(this, 20, 0).width(), 0,
                              DialogUnitsToPixels(this, 20, 0).width(), 0);

    DialogSupport::LayOutWithOkCancel(this, pGrid, 14, DialogSupport::ButtonOrder::OkThenCancel);
}

bool C3DCoordInput::UpdateData(bool bSaveAndValidate) {
    DialogSupport::CDataExchange dx(bSaveAndValidate);
    dx.Text(m_pEditX, m_dX);
    dx.Text(m_pEditY, m_dY);
    dx.Text(m_pEditZ, m_dZ);
    return dx.Ok();
}

void C3DCoordInput::accept() {
    if (UpdateData(true)) QDialog::accept();
}

void C3DCoordInput::showEvent(QShowEvent* pEvent) {
    if (!pEvent->spontaneous()) UpdateData(false);
    QDialog::showEvent(pEvent);
}
