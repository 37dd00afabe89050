// Status bar of the main frame: a row of text panes. Pane 0 is the message
// pane (prompts, the idle text and the views' read-outs); the others are
// indicators ("CAP", "NUM", "SCRL").
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QTimer>
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
    // Makes a pane at least as wide as `sample` would need.
    bool SetPaneMinimumText(int index, const QString& sample);

    // Messages the operator must read, shown over pane 0 so that the read-outs
    // written there at every mouse move do not overwrite them. A held message
    // stays until released (an empty text releases it); a timed one shows for
    // `ms` milliseconds, after which a held message comes back.
    void HoldMessage(const QString& text);
    QString GetHeldMessage() const { return m_strHeld; }
    void ShowTimedMessage(const QString& text, int ms = 6000);
    // While a menu prompt is shown in pane 0, the messages above step aside.
    void SetPromptShown(bool bShown);

    // The message shown over pane 0 now (empty when pane 0 shows).
    QString GetShownMessage() const;

private:
    void ShowOverPane(const QString& text);  // empty: pane 0 shows again

    std::vector<QLabel*> m_panes;  // owned by Qt (children of the bar)
    QLabel* m_pMessage = nullptr;  // stands in for pane 0 while a message shows
    QTimer* m_pTimer = nullptr;
    QString m_strHeld;
    bool m_bPromptShown = false;
};
