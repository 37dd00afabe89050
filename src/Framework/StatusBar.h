// Status bar of the main frame: a row of text panes. Pane 0 is the message
// pane (prompts, the idle text and the views' read-outs); the others are
// indicators ("CAP", "NUM", "SCRL").
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <vector>

class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* parent = nullptr);

    // Creates one pane per text: pane 0 stretches, the others are sized to their
    // text. Replaces any panes made before.
    bool SetIndicators(const QStringList& paneTexts);
    int GetPaneCount() const { return static_cast<int>(m_panes.size()); }

    // Sets the text of a pane and repaints it at once. Returns false for a bad index.
    bool SetPaneText(int index, const QString& text, bool bUpdate = true);
    QString GetPaneText(int index) const;

private:
    std::vector<QLabel*> m_panes;  // owned by Qt (children of the bar)
};
