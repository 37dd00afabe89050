// The XYZ input of "Go To Point": a ground position X, Y, Z.
#pragma once

#include <QDialog>

class QLineEdit;

class C3DCoordInput : public QDialog {
public:
    enum { IDD = 132 };

    explicit C3DCoordInput(QWidget* pParent = nullptr);

    // Shows the dialog modally (the members fill the edits when it opens);
    // returns QDialog::Accepted after a valid OK, QDialog::Rejected otherwise.
    int DoModal() { return exec(); }

    // true: edits 1014, 1015, 1016 -> m_dX, m_dY, m_dZ, refusing text that is
    // not a number (message, focus on the field, returns false; members from
    // the refused field on keep their values); false: members -> edits.
    bool UpdateData(bool bSaveAndValidate = true);

    // OK: reads the edits and closes only if they were accepted.
    void accept() override;

    // Ground coordinates.
    double m_dX = 0.0;
    double m_dY = 0.0;
    double m_dZ = 0.0;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QLineEdit* m_pEditX = nullptr;  // 1014
    QLineEdit* m_pEditY = nullptr;  // 1015
    QLineEdit* m_pEditZ = nullptr;  // 1016
};
