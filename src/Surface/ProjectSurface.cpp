#include "Surface/ProjectSurface.h"

#include <cmath>

void CProjectSurface::OnProjectEvent(const ProjectEvent& event) {
    switch (event.change) {
        case ProjectChange::Loaded:
            Build();
            break;
        case ProjectChange::PointsEdited:
            m_surface.Update(m_ground, event.records ? *event.records : std::vector<int>{});
            m_contours.Refresh(m_surface);
            break;
        case ProjectChange::RecordsRenumbered:
            if (event.renumbering) m_surface.Renumber(event.renumbering->NewIndexOfOld(), m_ground);
            m_contours.Refresh(m_surface);
            break;
        default:
            break;
    }
}

void CProjectSurface::Build() {
    m_surface.Build(m_ground);
    const double interval =
        m_dChosenInterval > 0.0 ? m_dChosenInterval : DefaultContourInterval(m_ground);
    m_contours.Build(m_surface, interval);
}

int CProjectSurface::SetInterval(double interval) {
    if (!(interval >= 0.0) || !std::isfinite(interval)) return -1;
    m_dChosenInterval = interval;
    m_contours.Build(m_surface, interval > 0.0 ? interval : DefaultContourInterval(m_ground));
    return 1;
}
