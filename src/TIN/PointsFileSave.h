// Saving a point set to its points file (.pts) without ever leaving a broken
// file: the records are written to a temporary beside the file and renamed
// over it only when complete (Platform/AtomicFile.h). The caller compacts the
// set first (CTINPoints::Compact), so that deleted records are not written
// and the bounds in the header hold every point.
#pragma once

#include <string>

#include "Platform/AtomicFile.h"
#include "TIN/TINPoints.h"

// Writes `points` to `path` in the points file format (WritePts). 1 saved;
// -1 the file or its temporary cannot be opened or created (the caller shows
// "Open file <path> error!"); -2 writing failed ("Write file <path> error!");
// -3 the set would not read back (no records, or max X not above min X) and
// nothing was written. Whatever the result, a file at `path` is either the
// new one, complete, or the old one, byte for byte. `failure` (optional)
// receives the system's reason for -1 and -2 (Platform::SaveFailureReason
// words it as the message's second line).
int SavePointsFile(const CTINPoints& points, const std::string& path,
                   Platform::SaveFailure* failure = nullptr);

// Removes what saves of `path` that died half way left behind (stale
// temporaries, Platform::RemoveStaleSaveTemporaries). Every save does this
// itself; a load never does (it must not change the folder). The number
// removed, or -1 when the folder cannot be read.
int RemoveStalePointsSaves(const std::string& path);
