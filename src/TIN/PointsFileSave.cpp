#include "TIN/PointsFileSave.h"

#include "Platform/AtomicFile.h"

int SavePointsFile(const CTINPoints& points, const std::string& path,
                   Platform::SaveFailure* failure) {
    if (failure) *failure = Platform::SaveFailure();
    // ReadPts refuses a file of no records or whose max X is not above its min X.
    if (points.GetCount() <= 0 || !(points.m_dMaxX > points.m_dMinX)) return -3;
    return Platform::SaveFileAtomically(
        path, [&points](FILE* file) { return points.WritePts(file) == points.GetCount(); },
        failure);
}

int RemoveStalePointsSaves(const std::string& path) {
    return Platform::RemoveStaleSaveTemporaries(path);
}
