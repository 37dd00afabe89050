#include "Orvane/ContourIntervalDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <cmath>

#include "Framework/Messages.h"
#include "Orvane/DialogSupport.h"

CContourIntervalDlg::CContourIntervalDlg(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Contour Interval"));
    auto* pGrid = new QGridLayout;
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QStringLiteral("1030"));
    auto* pLabel = new QLabel(QStringLiteral("Contour interval (0: from the points):"), this);
    pLabel->setBuddy(m_pEdit);
    pGrid->addWidget(pLabel, 0, 0);
    pGrid->addWidget(m_pEdit, 0, 1);
    DialogSupport::LayOutWithOkCancel(this, pGrid, 8, DialogSupport::ButtonOrder::CancelThenOk);
}

bool CContourIntervalDlg::UpdateData(bool bSaveAndValidate) {
    DialogSupport::CDataExchange dx(bSaveAndValidate);
    double value = m_dInterval;
    dx.Text(m_pEdit, value);
    if (!dx.Ok()) return false;
    if (bSaveAndValidate && !(value >= 0.0 && std::isfinite(value))) {
        ReportMessage(QStringLiteral("Please enter an interval of 0 or more."),
                      Platform::MessageKind::Plain);
        m_pEdit->setFocus();
        m_pEdit->selectAll();
        return false;
    }
    m_dInterval = value;
    return true;
}

void CContourIntervalDlg::accept() {
    if (UpdateData(true)) QDialog::accept();
}

void CContourIntervalDlg::showEvent(QShowEvent* pEvent) {
    if (!pEvent->spontaneous()) UpdateData(false);
    QDialog::showEvent(pEvent);
}
