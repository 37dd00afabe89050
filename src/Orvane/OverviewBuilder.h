// Builds the overview pyramid of a photograph on a worker thread, so that the
// window stays responsive while a large photograph is reduced; shows the
// progress in the status bar and tells when the pyramid is ready.
//
// The document owns one builder. The worker reads the image's band 0 until it
// finishes or is cancelled: whoever frees or replaces that image (a second
// load, closing the document) calls Cancel first, which returns only once the
// worker has stopped.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

#include "Overview/ImagePyramid.h"

class CErdasImage;

class COverviewBuilder : public QObject {
    Q_OBJECT
public:
    COverviewBuilder();
    ~COverviewBuilder() override;  // cancels and waits

    // Starts building the pyramid of the image's band 0 (any build running is
    // cancelled first), keeping the levels from the first whose sides are at
    // most maxSide. False, with nothing started, when the image holds no data.
    bool Start(const CErdasImage& image, int maxSide = CImagePyramid::kMaxSide);
    // The status-bar text while building starts with this (kProgressPrefix
    // unless set); the pointer must stay valid.
    void SetProgressPrefix(const char* prefix) { m_pPrefix = prefix; }
    // Stops a running build, waits for its thread and drops the pyramid.
    void Cancel();

    bool IsBuilding() const { return m_thread.joinable(); }
    // A pyramid was built for the image of the last Start.
    bool IsReady() const { return m_bReady; }
    // The built pyramid (empty until ready); read on the user-interface thread.
    const CImagePyramid& GetPyramid() const { return m_ready; }
    // Counts the builds started, so a reader can tell a new pyramid from the old.
    int GetGeneration() const { return m_nGeneration; }
    // Result of the last finished build (CImagePyramid::Build), 0 before any.
    int GetResult() const { return m_nResult; }

    // The status-bar text while building, "<prefix> <n> %".
    static constexpr const char* kProgressPrefix = "Building the overview:";

signals:
    // A build started: the pyramid of the previous image is gone.
    void started();
    void progressChanged(int percent);
    // A build finished (ready, or failed: see GetResult); not sent for a cancelled one.
    void finished();

private:
    // The worker's state: shared with the thread, which outlives nothing else.
    struct Job {
        std::atomic<bool> cancel{false};
        std::atomic<int> percent{-1};
        CImagePyramid pyramid;
        int result = 0;
    };
    void OnProgress(int generation, int percent);
    void OnFinished(int generation);
    void ShowProgress(const QString& text) const;

    std::thread m_thread;
    std::shared_ptr<Job> m_job;
    CImagePyramid m_ready;
    bool m_bReady = false;
    int m_nGeneration = 0;
    int m_nResult = 0;
    const char* m_pPrefix = kProgressPrefix;
};
