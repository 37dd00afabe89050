// Demo projects for tests, generated once per test run. The CTest fixtures
// DemoProjects.NAME (cmake/TestDemos.cmake) run orvane-makedemo into one
// folder of the build tree per named project, each with the arguments it was
// made with (args.txt), what the program printed (made.txt) and last a file
// `complete`. Tests read those folders and never write into them: a test
// that saves copies the points file to a folder of its own.
//
// The set is looked for in $ORVANE_TEST_DEMOS, else in the folder the build
// compiled in (ORVANE_TEST_DEMOS). A test program run by hand without the
// fixture, or asking for options the set was not made with, generates the
// project into a temporary folder of its own instead (removed at exit).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DemoProject.h"
#include "testing/PlatformTestSupport.h"

namespace demo {

namespace test_support_detail {

namespace fs = std::filesystem;

// The folder of the generated set ("" when there is none).
inline std::string SharedDemoFolder() {
    if (const char* env = std::getenv("ORVANE_TEST_DEMOS"); env && *env) return env;
#ifdef ORVANE_TEST_DEMOS
    return ORVANE_TEST_DEMOS;
#else
    return std::string();
#endif
}

// The options a folder of the set was made with; false when they cannot be read.
inline bool FolderOptions(const fs::path& folder, DemoOptions& options) {
    std::istringstream words(platformtest::SlurpText(folder / "args.txt"));
    std::vector<std::string> args{folder.string()};
    for (std::string w; words >> w;) args.push_back(w);
    std::string error;
    return args.size() > 1 && ParseDemoArguments(args, options, error) == 1;
}

// The same project: everything that changes the files is equal.
inline bool SameProject(const DemoOptions& a, const DemoOptions& b) {
    return a.seed == b.seed && a.cols == b.cols && a.rows == b.rows && a.points == b.points &&
           a.targets == b.targets && a.zeroStart == b.zeroStart;
}

// Rebuilds what MakeDemoProject returned from the files of a generated
// folder: the paths, the layout (a function of the options), the point
// count, bounds and spacing (the points file's header), the gross errors
// (blunders.txt) and the control targets (printed to the centimetre in X, Y
// and to the millimetre in Z). Overlap, terrain range and timings stay 0.
inline bool ReadFolder(const fs::path& folder, const DemoOptions& options, DemoResult& r) {
    r = DemoResult();
    r.leftImage = (folder / "left.lan").string();
    r.rightImage = (folder / "right.lan").string();
    r.leftOrientation = (folder / "left.ORN").string();
    r.rightOrientation = (folder / "right.ORN").string();
    r.pointsFile = (folder / "points.pts").string();
    r.truthFile = (folder / "blunders.txt").string();
    r.layout = MakeDemoLayout(options);
    r.pointCount = options.points;
    {
        std::ifstream pts(r.pointsFile, std::ios::binary);
        int32_t count = 0;
        double header[6] = {};
        if (!pts.read(reinterpret_cast<char*>(&count), 4) ||
            !pts.read(reinterpret_cast<char*>(header), sizeof header) || count != options.points)
            return false;
        r.minX = header[0];
        r.maxY = header[1];
        r.maxX = header[2];
        r.minY = header[3];
        r.spacing = header[4];
    }
    DemoOptions truth;
    if (ReadDemoTruth(r.truthFile, truth, r.blunderTruth) != 1) return false;
    for (const DemoBlunder& b : r.blunderTruth) r.blunders.push_back(b.id);
    std::istringstream lines(platformtest::SlurpText(folder / "made.txt"));
    for (std::string line; std::getline(lines, line);) {
        long long count = 0, columns = 0, rows = 0;
        if (std::sscanf(line.c_str(), " points.pts %lld points, grid %lld x %lld", &count, &columns,
                        &rows) == 3) {
            r.gridColumns = columns;
            r.gridRows = rows;
        }
        unsigned number = 0;
        DemoTarget t{};
        if (std::sscanf(line.c_str(), " T%u %lf %lf %lf", &number, &t.x, &t.y, &t.z) == 4)
            r.targets.push_back(t);
    }
    return r.gridColumns > 0 && (!options.targets || !r.targets.empty());
}

struct Entry {
    bool ready = false;
    int rc = 0;
    std::string error;
    DemoResult result;
    std::unique_ptr<platformtest::TempDir> temporary;  // removed at exit
};

}  // namespace test_support_detail

// The demo project `name` made with `options` (outDir is ignored): the one in
// the generated set when it was made with the same options, otherwise one
// generated now into a temporary folder. Made once per test program and
// name. `error` (optional) receives the generator's message when it failed;
// the result's paths are then empty.
inline const DemoResult& SharedDemo(const std::string& name, const DemoOptions& options,
                                    std::string* error = nullptr) {
    namespace d = test_support_detail;
    static std::map<std::string, d::Entry> made;
    d::Entry& e = made[name];
    if (!e.ready) {
        e.ready = true;
        const std::string set = d::SharedDemoFolder();
        DemoOptions shared;
        std::error_code exists;
        if (!set.empty() && d::fs::exists(d::fs::path(set) / name, exists)) {
            const d::fs::path folder = d::fs::path(set) / name;
            std::error_code ec;
            if (d::fs::exists(folder / "complete", ec) && d::FolderOptions(folder, shared) &&
                d::SameProject(shared, options) && d::ReadFolder(folder, options, e.result)) {
                e.rc = 1;
            } else {
                std::fprintf(stderr,
                             "note: the test demo set in %s has no project \"%s\" with these "
                             "options; generating it here\n",
                             set.c_str(), name.c_str());
            }
        }
        if (e.rc != 1) {
            e.temporary = std::make_unique<platformtest::TempDir>("orvane-demo");
            DemoOptions own = options;
            own.outDir = e.temporary->Path() + "/" + name;
            e.rc = e.temporary->Path().empty() ? -2 : MakeDemoProject(own, e.result, e.error);
            if (e.temporary->Path().empty()) e.error = "cannot create a temporary folder";
            if (e.rc != 1) e.result = DemoResult();
        }
    }
    if (error) *error = e.error;
    return e.result;
}

// The test run's "small" project: two 900 x 900 photographs, 3,000 points.
// A failure to make it fails the calling test.
inline const DemoResult& SmallProject() {
    DemoOptions options;
    options.cols = 900;
    options.rows = 900;
    options.points = 3000;
    options.threads = 2;
    std::string error;
    const DemoResult& d = SharedDemo("small", options, &error);
    if (d.pointsFile.empty()) ADD_FAILURE() << "demo project small: " << error;
    return d;
}

}  // namespace demo
