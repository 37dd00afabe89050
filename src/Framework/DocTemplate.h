// Multiple-document template: joins a document class, the child frame and a
// view class. It creates documents (new or opened), gives each a child frame
// holding a new view, owns the documents and destroys a document when its last
// view closes.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CDocument;
class CScrollView;
class CMDIFrame;
class CMDIChildFrame;

class CDocTemplate {
public:
    using DocFactory = std::function<std::unique_ptr<CDocument>()>;
    using ViewFactory = std::function<std::unique_ptr<CScrollView>()>;
    // Makes the child frame around a new view (the frame takes the view).
    using FrameFactory = std::function<CMDIChildFrame*(CScrollView*)>;

    // Fields of the document string, separated by '\n':
    // window title, document name, new-file name, filter name, filter extension,
    // file type id, file type name. Example: "\nOrvane\nOrvane\nPoints(*.pts)\n.pts\n
    // Orvane Document\nOrvane Document".
    enum DocStringIndex {
        windowTitle,
        docName,
        fileNewName,
        filterName,
        filterExt,
        regFileTypeId,
        regFileTypeName
    };

    CDocTemplate(const QString& docString, DocFactory makeDoc, ViewFactory makeView);
    ~CDocTemplate();
    CDocTemplate(const CDocTemplate&) = delete;
    CDocTemplate& operator=(const CDocTemplate&) = delete;

    template <class Doc, class View>
    static std::unique_ptr<CDocTemplate> Make(const QString& docString) {
        return std::make_unique<CDocTemplate>(
            docString, [] { return std::unique_ptr<CDocument>(std::make_unique<Doc>()); },
            [] { return std::unique_ptr<CScrollView>(std::make_unique<View>()); });
    }

    // The child frame class of the template: Frame(CScrollView*) must exist.
    template <class Doc, class Frame, class View>
    static std::unique_ptr<CDocTemplate> Make(const QString& docString) {
        std::unique_ptr<CDocTemplate> t = Make<Doc, View>(docString);
        t->m_makeFrame = [](CScrollView* view) -> CMDIChildFrame* { return new Frame(view); };
        return t;
    }

    QString GetDocString(DocStringIndex index) const;
    // File-dialog filter: the template's filter name followed by "All Files (*)".
    QString GetFileDialogFilter() const;

    // The main frame whose MDI area receives the child frames.
    void SetMainFrame(CMDIFrame* pFrame) { m_pMainFrame = pFrame; }
    CMDIFrame* GetMainFrame() const { return m_pMainFrame; }

    // Empty path: a new document (OnNewDocument, title "<new-file name><n>").
    // Otherwise OnOpenDocument(path). Then a child frame with a view is created,
    // shown and given OnInitialUpdate. Returns null on failure (nothing is left).
    CDocument* OpenDocumentFile(const QString& path);
    // A further child frame and view on an existing document (Window > New Window).
    CMDIChildFrame* CreateNewFrame(CDocument* pDoc);

    std::vector<CDocument*> GetDocuments() const;
    // Save prompt for every modified document; false when one was cancelled.
    bool SaveAllModified();
    // Closes every frame of every document (no prompts) and destroys the documents.
    void CloseAllDocuments();

    // Called when a document's last view has gone: destroys the document.
    void OnLastViewClosed(CDocument* pDoc);

private:
    QString m_strDocStrings;
    DocFactory m_makeDoc;
    ViewFactory m_makeView;
    FrameFactory m_makeFrame;
    CMDIFrame* m_pMainFrame = nullptr;
    std::vector<std::unique_ptr<CDocument>> m_docList;
    int m_nUntitledCount = 0;
};
