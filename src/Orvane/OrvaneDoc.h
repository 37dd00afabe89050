// The project document: the project (both photographs, the ground points,
// their editor and check queue, src/Project) inside the application's
// document, with the messages, the wait cursor, the save path and the
// timers that belong to the desktop. The editing view reads and changes the
// project's members directly.
//
// The document never calls its views or the main frame: every change of the
// project arrives here as an event and goes on to the views through
// UpdateAllViews (the hint is the ProjectChange, the pointer the event) and
// to the main frame through the callback the frame installs.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "OpenGL/OpenGLDoc.h"
#include "Orvane/OverviewBuilder.h"
#include "Project/Project.h"
#include "Project/ProjectFile.h"
#include "Surface/ProjectSurface.h"
#include "Surface/SurfaceImages.h"

class QTimer;

class COrvaneDoc : public COpenGLDoc, public CProject, private IProjectEvents {
public:
    COrvaneDoc();
    ~COrvaneDoc() override;

    bool OnNewDocument() override;
    // File > Open and the recent-file list: the project file beside the
    // points file loads the whole project as TIN > Editing would (an input
    // that is gone is asked for); without one the first view opens the
    // image-pair picker with the points path filled in.
    bool OnOpenDocument(const QString& path) override;
    // The archive hook reads and writes nothing: projects load through LoadProject.
    void Serialize(bool bStoring) override;
    // Writes the points file: compacts the ground set and writes it to a
    // temporary file in the same folder, renamed over `path` only once the
    // whole write, flush and close succeeded.
    bool OnSaveDocument(const QString& path) override;
    // Stops the overview's worker before the document's images go, and
    // writes the check statuses' sidecar.
    void OnCloseDocument() override;

    // Each photograph appends image-point record `index` to its selection.
    void SelectPoint(int index);
    // False when the left selection is empty; otherwise applies the weight rule
    // (edited points below 0.95 get 0.95) and clears both selections.
    bool ReleaseSelection();

    // Loads the five inputs (the view asked for them and keeps them). Every
    // input is read into temporaries first; on any failure "Open <name>
    // error!" is shown and the earlier project stays whole. 1 loaded, -1 failed.
    int LoadProject(const ProjectPaths& paths);

    // File > Export Points: asks for a file (LAS or XYZ, by type) and writes
    // the live points with the current edits; the points file and the
    // modified flag stay as they are.
    void OnExportPoints();
    // Writes the live points to `path` in the format its extension names.
    // The number of points written, or a negative result (message shown).
    int ExportPointsTo(const std::string& path);
    // Chooses the export file; tests replace it. Empty: cancelled.
    std::function<std::string()> m_fnChooseExportPath;

    // Edit > Undo and Edit > Redo: the step's name, or "" when there was none.
    std::string OnEditUndo();
    std::string OnEditRedo();

    // Set To Surface for the selection, with the wait cursor and the count of
    // points left alone in the status bar. Points moved, or -1.
    int SetSelectionToSurface();
    // Writes the statuses' sidecar beside the points file now, if they
    // changed: beside pointsPath, or the document's file when it is empty.
    void SaveCheckStatuses(const std::string& pointsPath = {});
    void ShowTimedStatus(const QString& text) const;

    // Writes the project file beside the points file: the five paths of
    // the project loaded (the points as last loaded or saved) and the view
    // state of s_fnViewState (or the one last read). 1, or negative (a
    // message in the status bar).
    int WriteProjectFile();
    // The five inputs of the project loaded ("" before a load).
    ProjectPaths m_paths;
    // The project file as last read or written; its offsets and stereo mode
    // wait here for the first view while m_bViewStatePending.
    ProjectFileData m_projectFile;
    bool m_bViewStatePending = false;
    // A points file opened without a project file: the first view asks for
    // the rest with the image-pair picker.
    std::string m_strPointsToPick;
    // The offsets and stereo mode of a view of `doc` (installed by the main
    // frame); false when it has none.
    static std::function<bool(const COrvaneDoc& doc, ProjectFileData& data)> s_fnViewState;
    // Whether loads and saves write the project file (the test programs turn
    // it off while they read the shared demo projects, which must stay as made).
    static bool s_bWriteProjectFiles;
    // Asks where an input of a reopened project went (its name, the path that
    // is gone): the new path, or "" to give up. Tests replace it.
    static std::function<std::string(const char* name, const std::string& gone)> s_fnAskForInput;

    // The main frame's part in every project event of every document (the
    // menus, the docks); installed by the frame, removed when it goes.
    static std::function<void(const COrvaneDoc&, const ProjectEvent&)> s_fnFrameEvents;

    // The overview pyramid of the left photograph, built after each load. A
    // member of the document, so destroyed (its worker joined) before the
    // project's photographs.
    COverviewBuilder m_overview;
    // The reduced levels of each photograph (0 left, 1 right) that a view
    // zoomed out draws from: every halving of band 0, built on a worker the
    // first time a view asks after a load.
    COverviewBuilder m_zoomLevels[2];
    // The eye's levels when built; otherwise null, and the build is started
    // if it has not been since the load. Views are redrawn when it is ready.
    const CImagePyramid* ZoomLevels(int eye);
    // Stops the workers that read the photographs (overview and levels).
    void CancelImageWorkers();

    // The triangulated surface of the live points and its contours, kept
    // current through the project's events (built at each load), and where
    // the contours show in both photographs.
    CProjectSurface m_surface{m_points};
    CContourImages m_contourImages;
    // View > Contour Interval: the interval in ground units of Z (0: the
    // points' own default); the contours are made again. 1, or -1 for a
    // value that is negative or not a number.
    int SetContourInterval(double interval);
    // The closed contours around one or two points only go to the check
    // queue as suspects (pits and peaks): at each load, now, or (Ensure)
    // when edits were made since (about 0.2 s on a million points).
    void RefreshContourSuspects();
    void EnsureContourSuspects();
    // Match Z: the last result of each record matched this session, for the
    // check queue's dock (correlation, or no match); kept until the next load.
    std::map<int, MatchResult> m_matchResults;

private:
    void OnProjectEvent(const ProjectEvent& event) override;
    // Undo (false) or redo (true) and its status message.
    std::string StepHistory(bool redo);
    // A save's message with the system's reason for the failure on a second line.
    static QString WithReason(const QString& message, const Platform::SaveFailure& failure);
    // Writes pane 0 of the main frame's status bar.
    void ShowStatus(const QString& text) const;

    std::unique_ptr<QTimer> m_pSidecarTimer;
    bool m_bContourSuspectsStale = false;  // edits since the pits and peaks were found
    bool m_bLevelsStarted[2] = {
        false, false};  // since the last load  // writes the statuses a few seconds after a change
};
