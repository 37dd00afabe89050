// The project document: a left and a right aerial photograph (orientation,
// LAN image, image-point set, selection, polygon) and the ground point set the
// operator edits. The editing view reads and changes these members directly.
//
// Invariant kept by every operation here: the ground set and both image-point
// sets are parallel (record i of each describes the same point, id == i, or -1
// once deleted).
#pragma once

#include <QString>
#include <string>

#include "OpenGL/OpenGLDoc.h"
#include "Orvane/OverviewBuilder.h"
#include "Photogrammetry/AerialPhoto.h"
#include "TIN/TINPoints.h"

class COrvaneView;

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
    // Stops the overview's worker before the document's images go.
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

    CAerialPhoto m_leftPhoto;
    CAerialPhoto m_rightPhoto;
    CTINPoints m_points;
    bool m_bZEdited = false;
    // The overview pyramid of the left photograph, built after each load.
    COverviewBuilder m_overview;

private:
    // Projects the ground set into both photographs again and rebuilds the
    // three grid indexes (after the ground set was replaced or compacted).
    void RebuildImagePoints();
    // After Compact: ids become record indices again; selections and polygons
    // follow their points (entries of removed points are dropped).
    void RenumberAfterCompact(const std::vector<int>& newIndexOfOld);
    // Writes pane 0 of the main frame's status bar.
    void ShowStatus(const QString& text) const;

    bool m_bProjectLoaded = false;
};
