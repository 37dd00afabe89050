// Shows the wait cursor over the whole application while it lives.
#pragma once

class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    // Shows the wait cursor again after a dialog or message box replaced it.
    void Restore();

private:
    bool m_bShown = false;
};
