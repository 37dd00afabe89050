// Document base: the data one or more views show. Owns nothing of the views.
//
// The application derives its document from this class (through COpenGLDoc) and
// overrides OnNewDocument, OnOpenDocument, OnSaveDocument and Serialize as
// needed. Documents are owned by their CDocTemplate and destroyed when their last
// view closes.
#pragma once

#include <QString>
#include <functional>
#include <vector>

class CScrollView;
class CDocTemplate;

class CDocument {
public:
    CDocument();
    virtual ~CDocument();
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;

    // Modified flag ("dirty"): set by every edit, cleared by a successful save.
    void SetModifiedFlag(bool bModified = true) { m_bModified = bModified; }
    bool IsModified() const { return m_bModified; }

    // Full path of the document file; setting it also sets the title to the
    // file name and, with bAddToMRU, adds it to the application's recent files.
    void SetPathName(const QString& path, bool bAddToMRU = true);
    const QString& GetPathName() const { return m_strPathName; }
    void SetTitle(const QString& title);
    const QString& GetTitle() const { return m_strTitle; }

    // Views on this document, in the order they were added.
    const std::vector<CScrollView*>& GetViews() const { return m_viewList; }
    CScrollView* GetFirstView() const { return m_viewList.empty() ? nullptr : m_viewList[0]; }
    void AddView(CScrollView* pView);
    void RemoveView(CScrollView* pView);  // called by the view's destructor
    // Invalidates every view except pSender (lHint and pHint are passed to OnUpdate).
    void UpdateAllViews(CScrollView* pSender, long lHint = 0, void* pHint = nullptr);

    CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    // Framework hooks.
    // New document: clears the modified flag and path; returns true.
    virtual bool OnNewDocument();
    // Open: a path that is not a readable file is refused with a message
    // (false); otherwise sets the path, calls Serialize(false), clears the
    // modified flag.
    virtual bool OnOpenDocument(const QString& path);
    // Save: the base calls Serialize(true) and clears the modified flag; returns true.
    virtual bool OnSaveDocument(const QString& path);
    // Called before the document is destroyed by its template.
    virtual void OnCloseDocument();
    // Archive hook: reads or writes the document's data. The base does nothing.
    virtual void Serialize(bool bStoring);

    // Closing and saving.
    // The save prompt: when modified, asks "Save changes to <title>?" (Yes, No,
    // Cancel). Yes saves (DoFileSave); returns whether closing may proceed.
    virtual bool SaveModified();
    // Save: to the path name, or through the Save As dialog when there is none.
    bool DoFileSave();
    // Save As when path is empty (asks with the template's filter), else saves to path.
    bool DoSave(const QString& path, bool bReplace = true);

    // Command handlers the application wires to File > Save / Save As / Close.
    void OnFileSave() { DoFileSave(); }
    void OnFileSaveAs() { DoSave(QString()); }
    void OnFileClose();  // save prompt, then closes every view (frame) of the document
    // True once the document is being closed (its frames close without prompting).
    bool IsClosing() const { return m_bClosing; }
    void MarkClosing() { m_bClosing = true; }

protected:
    // The questions asked while saving; tests override them to answer without a
    // modal dialog. AskSaveChanges returns IDYES, IDNO or IDCANCEL; AskSavePath
    // returns the chosen path or an empty string when cancelled.
    virtual int AskSaveChanges();
    virtual QString AskSavePath();

private:
    friend class CDocTemplate;
    bool m_bModified = false;
    QString m_strPathName;
    QString m_strTitle;
    std::vector<CScrollView*> m_viewList;  // not owned
    CDocTemplate* m_pDocTemplate = nullptr;
    bool m_bClosing = false;
};
