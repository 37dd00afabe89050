#include "Orvane/Orvane.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <memory>

#include "Framework/DocTemplate.h"
#include "Framework/Messages.h"
#include "Orvane/ChildFrm.h"
#include "Orvane/MainFrm.h"
#include "Orvane/OrvaneDoc.h"
#include "Orvane/OrvaneView.h"

COrvaneApp::COrvaneApp() : CWinApp(QStringLiteral("Orvane")) {}

COrvaneApp::~COrvaneApp() = default;

bool COrvaneApp::InitInstance() {
    return InitInstance(QStringList());
}

bool COrvaneApp::InitInstance(const QStringList& args) {
    SetRegistryKey(QStringLiteral("Local AppWizard-Generated Applications"));
    LoadStdProfileSettings(4);
    auto docTemplate = CDocTemplate::Make<COrvaneDoc, CChildFrame, COrvaneView>(
        QString::fromLatin1(kOrvaneDocString));
    CDocTemplate* tpl = docTemplate.get();
    AddDocTemplate(std::move(docTemplate));

    auto created = std::make_unique<CMainFrame>();
    if (created->OnCreate() != 0) return false;
    // From here on Qt owns the frame: it deletes itself when closed.
    CMainFrame* frame = created.release();
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->SetAppTitle(QStringLiteral("Orvane"), true);
    // Maximised, asked for before the window is first shown so that window
    // managers honour it; the size is what it gets where none does.
    frame->resize(1280, 900);
    frame->setWindowState(frame->windowState() | Qt::WindowMaximized);
    m_pFrame = frame;
    m_pMainWnd = frame;
    tpl->SetMainFrame(frame);
    if (!ProcessShellCommand(args)) return false;
    frame->UpdateMenus();
    frame->show();
    // The first document window fills the main window; a child frame can only
    // be maximised once its main window is shown.
    if (QMdiSubWindow* child = frame->GetMDIArea()->activeSubWindow()) child->showMaximized();
    return true;
}

void COrvaneApp::OnAppAbout() {
    CAboutDlg dlg(m_pFrame);
    dlg.exec();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Orvane"));
    setObjectName(QStringLiteral("100"));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral("Orvane Version 1.0"), this);
    auto* notice = new QLabel(QStringLiteral("Stereo checking and editing of terrain points\n"
                                             "over a pair of aerial photographs.\n"
                                             "Copyright (C) the Orvane developers."),
                              this);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(notice);
    auto* row = new QHBoxLayout(this);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts);
    row->addWidget(ok, 0, Qt::AlignTop);
}
