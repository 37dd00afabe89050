#include "Orvane/3DImgInput.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "Framework/WinApp.h"
#include "Orvane/DialogSupport.h"

using DialogSupport::DialogUnitsToPixels;

std::string OrientationPathFor(const std::string& strImagePath) {
    const auto slash = strImagePath.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = strImagePath.rfind('.');
    std::string path = strImagePath;
    if (dot != std::string::npos && dot >= nameStart) path.resize(dot);
    path.append(".ORN");
    return path;
}

C3DImgInput::C3DImgInput(QWidget* pParent) : QDialog(pParent) {
    setWindowTitle(QStringLiteral("Please Pick a Orvane Images Pair"));
    m_fnChooseFile = [this](const std::string& strTitle, const std::string& strFilter) {
        return ChooseDefault(strTitle, strFilter);
    };

    auto* pGrid = new QGridLayout;
    const int editWidth = DialogUnitsToPixels(this, 117, 12).width();
    auto addRow = [&](int row, const char* label, int editId, int browseId) {
        auto* pLabel = new QLabel(QString::fromLatin1(label), this);
        pLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* pEdit = new QLineEdit(this);
        pEdit->setObjectName(QString::number(editId));
        pEdit->setMinimumWidth(editWidth);
        auto* pBrowse = new QPushButton(QStringLiteral("Browse"), this);
        pBrowse->setObjectName(QString::number(browseId));
        pBrowse->setAutoDefault(false);
        pLabel->setBuddy(pEdit);
        pGrid->addWidget(pLabel, row, 0);
        pGrid->addWidget(pEdit, row, 1);
        pGrid->addWidget(pBrowse, row, 2);
        return std::pair(pEdit, pBrowse);
    };
    auto [pLeft, pBrowseLeft] = addRow(0, "Left Image:", 1000, 1001);
    auto [pRight, pBrowseRight] = addRow(1, "Right Image:", 1002, 1003);
    auto [pPoints, pBrowsePoints] = addRow(2, "Matched Points", 1004, 1005);
    m_pEditLeft = pLeft;
    m_pEditRight = pRight;
    m_pEditPoints = pPoints;
    pGrid->setVerticalSpacing(DialogUnitsToPixels(this, 0, 9).height());
    connect(pBrowseLeft, &QPushButton::clicked, this, [this] { OnBrowseLeft(); });
    connect(pBrowseRight, &QPushButton::clicked, this, [this] { OnBrowseRight(); });
    connect(pBrowsePoints, &QPushButton::clicked, this, [this] { OnBrowsePoints(); });

    DialogSupport::LayOutWithOkCancel(this, pGrid, 6, DialogSupport::ButtonOrder::OkThenCancel);
}

bool C3DImgInput::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        // An image path typed or pasted by hand gets its orientation path
        // proposed exactly as Browse proposes it, so the two ways of naming a
        // photograph load the same project.
        const auto typed = [](const QLineEdit* pEdit) {
            return QFile::encodeName(pEdit->text()).toStdString();
        };
        const std::string left = typed(m_pEditLeft), right = typed(m_pEditRight);
        if (left != m_strLeftImage || m_strLeftOrientation.empty())
            m_strLeftOrientation = left.empty() ? std::string() : OrientationPathFor(left);
        if (right != m_strRightImage || m_strRightOrientation.empty())
            m_strRightOrientation = right.empty() ? std::string() : OrientationPathFor(right);
    }
    DialogSupport::CDataExchange dx(bSaveAndValidate);
    dx.Text(m_pEditLeft, m_strLeftImage);
    dx.Text(m_pEditRight, m_strRightImage);
    dx.Text(m_pEditPoints, m_strMatchedPoints);
    return dx.Ok();
}

void C3DImgInput::BrowseImage(std::string& strImage, std::string& strOrientation) {
    const std::string path = m_fnChooseFile ? m_fnChooseFile(kImagePrompt, kImageFilter) : "";
    if (!path.empty()) {
        strImage = path;
        strOrientation = OrientationPathFor(path);
    }
    UpdateData(false);
}

void C3DImgInput::OnBrowseLeft() {
    BrowseImage(m_strLeftImage, m_strLeftOrientation);
}

void C3DImgInput::OnBrowseRight() {
    BrowseImage(m_strRightImage, m_strRightOrientation);
}

void C3DImgInput::OnBrowsePoints() {
    const std::string path = m_fnChooseFile ? m_fnChooseFile(kPointsPrompt, kPointsFilter) : "";
    if (!path.empty()) m_strMatchedPoints = path;
    UpdateData(false);
}

void C3DImgInput::accept() {
    if (UpdateData(true)) QDialog::accept();
}

void C3DImgInput::showEvent(QShowEvent* pEvent) {
    if (!pEvent->spontaneous()) UpdateData(false);
    QDialog::showEvent(pEvent);
}

std::string C3DImgInput::ChooseDefault(const std::string& strTitle, const std::string& strFilter) {
    // Images and points each start in the folder last chosen for them
    // (kept in the settings between sessions), else the working folder.
    CWinApp* app = CWinApp::GetApp();
    const QString key = strTitle == kPointsPrompt ? QStringLiteral("Folders/Points")
                                                  : QStringLiteral("Folders/Images");
    const QString folder =
        app ? app->GetProfileValue(key, QDir::currentPath()).toString() : QDir::currentPath();
    const QString path = QFileDialog::getOpenFileName(
        this, QString::fromStdString(strTitle), folder,
        QString::fromStdString(DialogSupport::QtFileFilter(strFilter)));
    if (path.isEmpty()) return std::string();
    if (app) app->WriteProfileValue(key, QFileInfo(path).absolutePath());
    return QFile::encodeName(path).toStdString();
}
