// View > Contour Interval...: the height between two contour levels, in
// ground units of Z; 0 goes back to the interval the points suggest.
#pragma once

#include <QDialog>

class QLineEdit;

class CContourIntervalDlg : public QDialog {
public:
    explicit CContourIntervalDlg(QWidget* pParent = nullptr);
    // true: edit 1030 -> m_dInterval, refusing text that is not a number or a
    // negative one (message, focus on the edit, returns false); false: m_dInterval -> edit.
    bool UpdateData(bool bSaveAndValidate = true);
    void accept() override;

    double m_dInterval = 1.0;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    QLineEdit* m_pEdit = nullptr;  // 1030
};
