// The surface and contours of a project's ground points, kept current
// through the project's events: a load builds them, an edit, undo or redo
// updates the records it changed (a change of Z alone re-contours the
// triangles around the point, a move, delete or add changes the
// triangulation locally), and a renumbering (a save's compaction, its undo
// or redo) is followed without a rebuild.
//
// The project has one event sink (the application's document); whoever holds
// it passes each event on to OnProjectEvent here, before anything reads the
// surface.
#pragma once

#include "Project/Project.h"
#include "Surface/Contours.h"
#include "Surface/Surface.h"

class CProjectSurface : public IProjectEvents {
public:
    explicit CProjectSurface(const CTINPoints& ground) : m_ground(ground) {}
    CProjectSurface(const CProjectSurface&) = delete;
    CProjectSurface& operator=(const CProjectSurface&) = delete;

    void OnProjectEvent(const ProjectEvent& event) override;

    // Builds the surface and its contours from the ground set as it is (at
    // the chosen interval, or the default one of these points).
    void Build();
    // The contour interval (ground units of Z) the operator chose; 0 goes
    // back to the default of the points. 1; -1 for a negative or non-finite value.
    int SetInterval(double interval);
    double Interval() const { return m_contours.Interval(); }

    const CSurface& Surface() const { return m_surface; }
    const CContours& Contours() const { return m_contours; }

private:
    const CTINPoints& m_ground;
    CSurface m_surface;
    CContours m_contours;
    double m_dChosenInterval = 0.0;  // 0: the default of the points
};
