#include "Orvane/ValueInput.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include "Orvane/DialogSupport.h"

using DialogSupport::DialogUnitsToPixels;

CValueInput::CValueInput(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Please input the new Z."));

    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QStringLiteral("1011"));
    m_pEdit->setMinimumWidth(DialogUnitsToPixels(this, 138, 15).width());

    auto* pMain = new QVBoxLayout(this);
    const QSize margin = DialogUnitsToPixels(this, 7, 9);
    pMain->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    pMain->addWidget(m_pEdit);
    pMain->setSizeConstraint(QLayout::SetFixedSize);
}

bool CValueInput::UpdateData(bool bSaveAndValidate) {
    DialogSupport::CDataExchange dx(bSaveAndValidate);
    dx.Text(m_pEdit, m_dValue);
    return dx.Ok();
}

void CValueInput::accept() {
    if (UpdateData(true)) QDialog::accept();
}

void CValueInput::showEvent(QShowEvent* pEvent) {
    if (!pEvent->spontaneous()) {
        UpdateData(false);
        m_pEdit->selectAll();
        m_pEdit->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(pEvent);
}

void CValueInput::keyPressEvent(QKeyEvent* pEvent) {
    // With no default button the dialog itself takes Enter as OK; Escape is
    // the base dialog's cancel.
    const bool plain =
        pEvent->modifiers() == Qt::NoModifier ||
        (pEvent->modifiers() == Qt::KeypadModifier && pEvent->key() == Qt::Key_Enter);
    if (plain && (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter)) {
        pEvent->accept();
        accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}
