#include "Orvane/OverviewBuilder.h"

#include <QMetaObject>

#include "Framework/MDIFrame.h"
#include "Framework/StatusBar.h"
#include "Framework/WinApp.h"
#include "erdasimg/erdasimg.h"

namespace {}  // namespace

COverviewBuilder::COverviewBuilder() = default;

COverviewBuilder::~COverviewBuilder() {
    Cancel();
}

bool COverviewBuilder::Start(const CErdasImage& image, int maxSide) {
    Cancel();
    unsigned char** bands = image.GetBands();
    if (!bands || !bands[0]) return false;
    const PyramidSource source{bands[0], image.GetSize().cx, image.GetSize().cy,
                               image.GetHeader().packing};
    auto job = std::make_shared<Job>();
    m_job = job;
    const int generation = ++m_nGeneration;
    // The worker reports through events queued to this object on the
    // user-interface thread; the object outlives the thread (Cancel joins it),
    // and events still queued when it goes are dropped with it.
    m_thread = std::thread([this, job, source, generation, maxSide] {
        auto progress = [&](double fraction) {
            const int percent = static_cast<int>(fraction * 100.0);
            if (job->percent.exchange(percent) == percent) return;
            QMetaObject::invokeMethod(
                this, [this, generation, percent] { OnProgress(generation, percent); },
                Qt::QueuedConnection);
        };
        job->result = job->pyramid.Build(source, maxSide, progress, &job->cancel);
        if (job->result != -1)
            QMetaObject::invokeMethod(
                this, [this, generation] { OnFinished(generation); }, Qt::QueuedConnection);
    });
    // The progress shows from the worker's first report on (none for a
    // photograph reduced before the event loop runs again).
    emit started();
    return true;
}

void COverviewBuilder::Cancel() {
    if (m_thread.joinable()) {
        m_job->cancel = true;
        m_thread.join();
        ShowProgress(QString());
    }
    m_job.reset();
    m_ready.Clear();
    m_bReady = false;
}

void COverviewBuilder::OnProgress(int generation, int percent) {
    if (generation != m_nGeneration || !m_thread.joinable()) return;
    ShowProgress(QStringLiteral("%1 %2 %").arg(QString::fromLatin1(m_pPrefix)).arg(percent));
    emit progressChanged(percent);
}

void COverviewBuilder::OnFinished(int generation) {
    if (generation != m_nGeneration || !m_thread.joinable()) return;
    m_thread.join();  // the worker posted this as its last act
    m_nResult = m_job->result;
    m_ready = std::move(m_job->pyramid);
    m_bReady = m_nResult == 1;
    m_job.reset();
    ShowProgress(QString());
    if (!m_bReady)
        if (CStatusBar* bar = CWinApp::MainStatusBar())
            bar->ShowTimedMessage(
                QStringLiteral("The overview could not be built: not enough memory."));
    emit finished();
}

void COverviewBuilder::ShowProgress(const QString& text) const {
    CStatusBar* bar = CWinApp::MainStatusBar();
    if (!bar) return;
    // Held over the mouse read-outs; released only while it is this text.
    if (!text.isEmpty())
        bar->HoldMessage(text);
    else if (bar->GetHeldMessage().startsWith(QString::fromLatin1(m_pPrefix)))
        bar->HoldMessage(QString());
}
