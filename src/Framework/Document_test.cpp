// Documents, the document template and the MDI frames.
#include "Framework/Document.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QSettings>
#include <QStatusTipEvent>
#include <QTest>
#include <QWheelEvent>
#include <array>

#include "Framework/DocTemplate.h"
#include "Framework/MDIFrame.h"
#include "Framework/ScrollView.h"
#include "Framework/StatusBar.h"
#include "Framework/WaitCursor.h"
#include "testing/FrameworkTestViews.h"

namespace {

// A document whose questions are answered by the test.
class ScriptedDoc : public CDocument {
public:
    ~ScriptedDoc() override {
        if (m_pDestroyed) *m_pDestroyed = true;
    }
    bool OnSaveDocument(const QString& path) override {
        m_savedTo.push_back(path);
        if (!m_bSaveSucceeds) return false;
        SetModifiedFlag(false);
        return true;
    }
    int AskSaveChanges() override {
        ++m_nAsked;
        return m_nAnswer;
    }
    QString AskSavePath() override { return m_strSaveAsPath; }

    int m_nAnswer = IDCANCEL;
    int m_nAsked = 0;
    bool m_bSaveSucceeds = true;
    QString m_strSaveAsPath;
    QStringList m_savedTo;
    bool* m_pDestroyed = nullptr;
};

TEST(DocumentTest, PathNameSetsTheTitleAndModifiedFlagToggles) {
    ScriptedDoc doc;
    EXPECT_FALSE(doc.IsModified());
    doc.SetModifiedFlag();
    EXPECT_TRUE(doc.IsModified());
    doc.SetModifiedFlag(false);
    EXPECT_FALSE(doc.IsModified());
    doc.SetPathName("/data/project/matched.pts", false);
    EXPECT_EQ(QString("/data/project/matched.pts"), doc.GetPathName());
    EXPECT_EQ(QString("matched.pts"), doc.GetTitle());
}

TEST(DocumentTest, SavePromptDecidesWhetherClosingMayProceed) {
    ScriptedDoc doc;
    EXPECT_TRUE(doc.SaveModified());  // not modified: no question
    EXPECT_EQ(0, doc.m_nAsked);

    doc.SetModifiedFlag();
    doc.m_nAnswer = IDCANCEL;
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_TRUE(doc.m_savedTo.isEmpty());

    doc.m_nAnswer = IDNO;
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_TRUE(doc.m_savedTo.isEmpty());
    EXPECT_TRUE(doc.IsModified());

    doc.SetPathName("/tmp/a.pts", false);
    doc.m_nAnswer = IDYES;
    doc.m_bSaveSucceeds = false;  // a failed save keeps the document open
    EXPECT_FALSE(doc.SaveModified());
    ASSERT_EQ(1, doc.m_savedTo.size());
    EXPECT_EQ(QString("/tmp/a.pts"), doc.m_savedTo[0]);

    doc.m_bSaveSucceeds = true;
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(2, doc.m_savedTo.size());
}

TEST(DocumentTest, SavingWithoutPathAsksForOneAndCancelSavesNothing) {
    ScriptedDoc doc;
    doc.SetModifiedFlag();
    doc.m_nAnswer = IDYES;
    doc.m_strSaveAsPath.clear();  // Save As cancelled
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_TRUE(doc.m_savedTo.isEmpty());
    doc.m_strSaveAsPath = "/tmp/new.pts";
    EXPECT_TRUE(doc.DoFileSave());
    EXPECT_EQ(QString("/tmp/new.pts"), doc.GetPathName());
    EXPECT_EQ(QString("new.pts"), doc.GetTitle());
}

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_frame = std::make_unique<CMDIFrame>();
        m_frame->CreateStatusBar({"", "CAP", "NUM", "SCRL"});
        m_frame->SetAppTitle("Orvane");
        m_template = std::make_unique<CDocTemplate>(
            "\nOrvane\nOrvane\nPoints(*.pts)\n.pts\nOrvane Document\nOrvane Document",
            [this] {
                auto doc = std::make_unique<ScriptedDoc>();
                doc->m_pDestroyed = &m_bDestroyed;
                return std::unique_ptr<CDocument>(std::move(doc));
            },
            [] { return std::unique_ptr<CScrollView>(std::make_unique<RecordingView>()); });
        m_template->SetMainFrame(m_frame.get());
        m_frame->resize(800, 600);
        m_frame->show();
    }
    void TearDown() override {
        m_frame.reset();
        m_template.reset();
    }
    bool m_bDestroyed = false;
    std::unique_ptr<CMDIFrame> m_frame;
    std::unique_ptr<CDocTemplate> m_template;
};

TEST_F(TemplateTest, DocumentStringsAndFilter) {
    EXPECT_EQ(QString("Points(*.pts)"), m_template->GetDocString(CDocTemplate::filterName));
    EXPECT_EQ(QString(".pts"), m_template->GetDocString(CDocTemplate::filterExt));
    EXPECT_EQ(QString("Orvane"), m_template->GetDocString(CDocTemplate::fileNewName));
    EXPECT_EQ(QString(""), m_template->GetDocString(CDocTemplate::windowTitle));
    EXPECT_TRUE(m_template->GetFileDialogFilter().startsWith("Points(*.pts)"));
}

TEST_F(TemplateTest, NewDocumentsGetAFrameAViewAndNumberedTitles) {
    CDocument* first = m_template->OpenDocumentFile(QString());
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(QString("Orvane1"), first->GetTitle());
    ASSERT_EQ(1u, first->GetViews().size());
    auto* view = static_cast<RecordingView*>(first->GetFirstView());
    EXPECT_EQ((std::vector<std::string>{"create", "initial update with document"}), view->m_events);
    EXPECT_EQ(first, view->GetDocument());
    EXPECT_EQ(first->GetDocTemplate(), m_template.get());
    CDocument* second = m_template->OpenDocumentFile(QString());
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(QString("Orvane2"), second->GetTitle());
    EXPECT_EQ(2u, m_template->GetDocuments().size());
    QApplication::processEvents();
    EXPECT_EQ(second, m_frame->GetActiveDocument());
    EXPECT_EQ(QString("Orvane - Orvane2"), m_frame->windowTitle());
}

TEST_F(TemplateTest, ClosingTheLastFrameAsksAndDestroysTheDocument) {
    auto* doc = static_cast<ScriptedDoc*>(m_template->OpenDocumentFile(QString()));
    ASSERT_NE(nullptr, doc);
    CMDIChildFrame* second = m_template->CreateNewFrame(doc);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(2u, doc->GetViews().size());
    doc->SetModifiedFlag();
    doc->m_nAnswer = IDCANCEL;

    // Not the last view: closes without a question.
    EXPECT_TRUE(second->close());
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(m_bDestroyed);
    ASSERT_EQ(1u, doc->GetViews().size());
    EXPECT_EQ(0, doc->m_nAsked);

    auto* last = qobject_cast<CMDIChildFrame*>(doc->GetFirstView()->parentWidget());
    ASSERT_NE(nullptr, last);
    EXPECT_FALSE(last->close());  // Cancel
    EXPECT_EQ(1, doc->m_nAsked);
    EXPECT_FALSE(m_bDestroyed);

    doc->m_nAnswer = IDNO;
    EXPECT_TRUE(last->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_bDestroyed);
    EXPECT_TRUE(m_template->GetDocuments().empty());
}

TEST_F(TemplateTest, StatusTipsGoToPaneZeroAndIdleTextComesBack) {
    CStatusBar* bar = m_frame->GetStatusBar();
    ASSERT_NE(nullptr, bar);
    EXPECT_EQ(4, bar->GetPaneCount());
    EXPECT_EQ(QString("Ready"), bar->GetPaneText(0));
    EXPECT_EQ(QString("CAP"), bar->GetPaneText(1));
    EXPECT_EQ(QString("SCRL"), bar->GetPaneText(3));
    QStatusTipEvent tip("Fit the chosen points onto a plane.");
    QApplication::sendEvent(m_frame.get(), &tip);
    EXPECT_EQ(QString("Fit the chosen points onto a plane."), bar->GetPaneText(0));
    QStatusTipEvent none("");
    QApplication::sendEvent(m_frame.get(), &none);
    EXPECT_EQ(QString("Ready"), bar->GetPaneText(0));
    EXPECT_FALSE(bar->SetPaneText(4, "x"));
    EXPECT_EQ(QString(), bar->GetPaneText(-1));
}

}  // namespace

// Every GUI test program keeps its settings (recent files, the file dialogs'
// history) in a folder of its own, never in the user's.
TEST(TestSettings, GoToAFolderOfTheTestProgram) {
    const QString folder = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(folder.contains("orvane-settings-"));
    EXPECT_TRUE(QSettings("QtProject").fileName().startsWith(folder));
    EXPECT_TRUE(QSettings("Local AppWizard-Generated Applications", "Orvane")
                    .fileName()
                    .startsWith(folder));
}
