// The new-Z input of "Set To A New Z": one real in one edit box, with no
// buttons and no system menu. Enter confirms, Escape cancels.
#pragma once

#include <QDialog>

class QLineEdit;

class CValueInput : public QDialog {
public:
    enum { IDD = 134 };

    explicit CValueInput(QWidget* pParent = nullptr);

    // Shows the dialog modally (the member fills the edit when it opens);
    // returns QDialog::Accepted after Enter with a valid number,
    // QDialog::Rejected after Escape.
    int DoModal() { return exec(); }

    // true: edit 1011 -> m_dValue, refusing text that is not a number
    // (message, focus on the edit, returns false); false: m_dValue -> edit.
    bool UpdateData(bool bSaveAndValidate = true);

    // Enter: reads the edit and closes only if it was accepted.
    void accept() override;

    // The new ground Z.
    double m_dValue = 1.0;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    QLineEdit* m_pEdit = nullptr;  // 1011
};
