// The project document: a left and a right aerial photograph (orientation,
// LAN image, image-point set, selection, polygon) and the ground point set the
// operator edits. The editing view reads and changes these members directly.
//
// Invariant kept by every operation here: the ground set and both image-point
// sets are parallel (record i of each describes the same point, id == i, or -1
// once deleted).
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "Checking/CheckQueue.h"
#include "Editing/PointEditor.h"
#include "OpenGL/OpenGLDoc.h"
#include "Orvane/OverviewBuilder.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

class COrvaneView;
class QTimer;

// The five inputs of a project, as the image-pair picker gives them.
struct ProjectPaths {
    std::string leftImage;
    std::string rightImage;
    std::string leftOrientation;
    std::string rightOrientation;
    std::string matchedPoints;
};

class COrvaneDoc : public COpenGLDoc {
public:
    COrvaneDoc();
    ~COrvaneDoc() override;

    bool OnNewDocument() override;
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

    // "Editing (Orvane)": asks the view's image-pair picker for the five paths
    // and loads them (LoadProjectFiles).
    void LoadProject(COrvaneView* pView);
    // Loads a project. Every input is read into temporaries first; on any
    // failure "Open <name> error!" is shown and the earlier project stays whole.
    // 1 loaded, -1 failed.
    int LoadProjectFiles(const ProjectPaths& paths, COrvaneView* pView);

    // True once a project is loaded (the document holds points to save).
    bool IsProjectLoaded() const { return m_bProjectLoaded; }

    // File > Export Points: asks for a file (LAS or XYZ, by type) and writes
    // the live points with the current edits; the points file and the
    // modified flag stay as they are.
    void OnExportPoints();
    // Writes the live points to `path` in the format its extension names.
    // The number of points written, or a negative result (message shown).
    int ExportPointsTo(const std::string& path);
    // Chooses the export file; tests replace it. Empty: cancelled.
    std::function<std::string()> m_fnChooseExportPath;

    CAerialPhoto m_leftPhoto;
    CAerialPhoto m_rightPhoto;
    CTINPoints m_points;
    bool m_bZEdited = false;
    // Every edit of the points goes through the editor (and its undo history).
    CPointEditor m_editor{m_points, m_leftPhoto, m_rightPhoto, m_bZEdited};

    // After an edit: the document is modified, the views redraw, the Undo and
    // Redo commands follow, and the operator hears of edits the history dropped.
    void OnPointsEdited();
    // Edit > Undo and Edit > Redo: the step's name, or "" when there was none.
    std::string OnEditUndo();
    std::string OnEditRedo();

    // The check queue of the loaded points (ranked when first needed).
    CCheckQueue m_checks{m_points};
    // Set To Surface: every selected point to the robust surface of its
    // neighbours, along its left ray; one step. Points moved, or -1.
    int SetSelectionToSurface();
    // The queue's statuses or current suspect changed: the queue's dock and
    // the views follow, and the statuses' sidecar is written a little later.
    void OnChecksChanged();
    // Writes the statuses' sidecar beside the points file now, if they
    // changed: beside pointsPath, or the document's file when it is empty.
    void SaveCheckStatuses(const std::string& pointsPath = {});
    void ShowTimedStatus(const QString& text) const;
    // The overview pyramid of the left photograph, built after each load.
    COverviewBuilder m_overview;

private:
    // Projects the ground set into both photographs again and rebuilds the
    // three grid indexes (after the ground set was replaced).
    void RebuildImagePoints();
    // After a save's compaction: the polygons and the views follow the
    // renumbered records (the editor moved the selections).
    void RenumberAfterCompact(const std::vector<int>& newIndexOfOld);
    // Tells the main frame that the undo history changed.
    void HistoryChanged() const;
    // After an edit, undo or redo: the queue scores the changed points again.
    void ChecksFollowEdit();
    // Undo (false) or redo (true) with what follows it: modified flag, queue,
    // views, status message, menu.
    std::string StepHistory(bool redo);
    // Writes pane 0 of the main frame's status bar.
    void ShowStatus(const QString& text) const;

    bool m_bProjectLoaded = false;
    std::unique_ptr<QTimer> m_pSidecarTimer;  // writes the statuses a few seconds after a change
};
