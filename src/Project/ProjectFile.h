// The project file beside a points file: POINTS.pts.orvane, plain text, so
// that opening the points file (File > Open, the recent-file list) brings
// back the whole project as the operator last had it.
//
//   # orvane-project 1
//   left-image=left.lan
//   right-image=right.lan
//   left-orientation=left.ORN
//   right-orientation=right.ORN
//   points=points.pts
//   x-offset=660
//   y-offset=-3
//   stereo=anaglyph
//
// The five paths are relative to the project file's folder (an absolute
// path stays absolute when there is no relative way to it). The offsets are
// the right image's display shift in scene pixels (to the right, upwards);
// the stereo mode is a word the application gives and takes back. Unknown
// keys are skipped (a later version may add some); a missing key keeps the
// caller's value. Written through the atomic writer, so it is always whole.
#pragma once

#include <string>

#include "Project/Project.h"

struct ProjectFileData {
    ProjectPaths paths;  // absolute (or as given) in memory
    int xOffset = 0;
    int yOffset = 0;
    std::string stereoMode;
};

// Results of ReadProjectFile besides 1.
constexpr int kProjectFileMissing = -1;    // cannot be opened
constexpr int kProjectFileMalformed = -2;  // not a project file, or a bad line

// POINTS + ".orvane".
std::string ProjectFilePath(const std::string& pointsPath);

// Writes `data` to `path`: 1, or Platform::SaveFileAtomically's failure.
int WriteProjectFile(const std::string& path, const ProjectFileData& data);

// Reads `path` into `data` (paths made absolute against its folder): 1,
// kProjectFileMissing or kProjectFileMalformed (then `data` is unchanged).
int ReadProjectFile(const std::string& path, ProjectFileData& data);
