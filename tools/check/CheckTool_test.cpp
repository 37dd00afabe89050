// Tests of orvane-check: the ranking printed for real points files, the
// options, and the messages and exit statuses for files that cannot be read.
#include "CheckTool.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Project/Project.h"
#include "Surface/ContourPits.h"
#include "Surface/ProjectSurface.h"
#include "TIN/TINPoints.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace {

using platformtest::ToolRun;

ToolRun RunTool(const std::vector<std::string>& args) {
    return platformtest::RunCaptured([&](FILE* o, FILE* e) { return RunCheckTool(args, o, e); });
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CheckToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        // A 30 x 30 field on a slope, 3 cm of noise, three spikes.
        CTINPoints set(900);
        std::mt19937 random(4);
        std::normal_distribution<double> noise(0.0, 0.03);
        for (int i = 0; i < 900; ++i) {
            TINPoint& p = set.m_pPoints[i];
            p.id = i;
            p.x = 431000.0 + 2.0 * (i % 30);
            p.y = 5378000.0 + 2.0 * (i / 30);
            p.z = 300.0 + 0.1 * (i % 30) + noise(random);
            p.weight = 0.97;
        }
        set.m_pPoints[100].z += 9.0;
        set.m_pPoints[500].z -= 7.0;
        set.m_pPoints[777].z += 5.0;
        set.m_pPoints[777].weight = 0.5;
        set.m_dMinX = 431000.0;
        set.m_dMaxX = 431058.0;
        set.m_dMinY = 5378000.0;
        set.m_dMaxY = 5378058.0;
        set.SetSpacing(2.0, 2.0);
        m_points = m_dir / "field.pts";
        ASSERT_EQ(set.WritePts(m_points), 900);
        ASSERT_EQ(m_set.ReadPts(m_points), 1);
    }

    // A points file of the given bytes.
    std::string Write(const std::string& name, const std::string& bytes) {
        platformtest::SpitText(m_dir / name, bytes);
        return m_dir / name;
    }

    platformtest::TempDir m_dir{"check_tool"};
    std::string m_points;
    CTINPoints m_set;
};

TEST_F(CheckToolTest, PrintsTheRankingWorstFirst) {
    const ToolRun r = RunTool({m_points});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 901u);
    EXPECT_EQ(lines[0], "rank,id,x,y,z,weight,score");
    double previous = INFINITY;
    std::vector<int> ids;
    for (size_t k = 1; k < lines.size(); ++k) {
        int rank = 0, id = 0;
        double x, y, z, w, score;
        ASSERT_EQ(std::sscanf(lines[k].c_str(), "%d,%d,%lf,%lf,%lf,%lf,%lf", &rank, &id, &x, &y, &z,
                              &w, &score),
                  7)
            << lines[k];
        EXPECT_EQ(rank, static_cast<int>(k));
        const TINPoint* p = m_set.GetPoint(id);
        ASSERT_NE(p, nullptr);
        const double px = p->x, py = p->y, pz = p->z, pw = p->weight;
        EXPECT_NEAR(x, px, 1e-4);
        EXPECT_NEAR(y, py, 1e-4);
        EXPECT_NEAR(z, pz, 1e-4);
        EXPECT_NEAR(w, pw, 1e-4);
        EXPECT_LE(score, previous + 1e-3);
        previous = score;
        ids.push_back(id);
    }
    std::vector<int> three(ids.begin(), ids.begin() + 3);
    std::sort(three.begin(), three.end());
    EXPECT_EQ(three, (std::vector<int>{100, 500, 777}));
}

TEST_F(CheckToolTest, TopAndMinScoreCutTheList) {
    ToolRun r = RunTool({m_points, "--top", "2"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).size(), 3u);
    r = RunTool({"--top=0", m_points});
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{"rank,id,x,y,z,weight,score"});
    r = RunTool({m_points, "--min-score", "20"});
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines.size(), 4u);  // the three spikes only
    r = RunTool({m_points, "--min-score=20", "--top", "1"});
    EXPECT_EQ(Lines(r.out).size(), 2u);
    r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: orvane-check"), std::string::npos);
}

TEST_F(CheckToolTest, BadCommandLinesExitWithUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {m_points, "--top"},
                                               {m_points, "--top", "-1"},
                                               {m_points, "--top", "many"},
                                               {m_points, "--min-score", "nan"},
                                               {m_points, "--frobnicate"},
                                               {m_points, m_points}}) {
        const ToolRun r = RunTool(args);
        EXPECT_EQ(r.status, kCheckToolUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: orvane-check"), std::string::npos);
    }
}

// Each way a points file can be unreadable: the message names the file and
// the reason, and the exit status is minus the reader's result.
TEST_F(CheckToolTest, UnreadableFilesAreNamedWithTheReason) {
    std::string header(52, '\0');
    auto withHeader = [&](int32_t n, double minX, double maxX) {
        std::string h = header;
        const double bounds[6] = {minX, 10.0, maxX, 0.0, 1.0, 1.0};
        std::memcpy(h.data(), &n, 4);
        std::memcpy(h.data() + 4, bounds, sizeof bounds);
        return h;
    };
    std::string record(32, '\0');
    const double nanRecord[4] = {1.0, 1.0, NAN, 1.0};
    std::string nanBytes(32, '\0');
    std::memcpy(nanBytes.data(), nanRecord, 32);
    struct Case {
        std::string path;
        int status;
        const char* reason;
    };
    // Files the program refuses: an X that is not a number, a point far
    // outside the header's bounds (the tool used to leave them out and rank
    // the rest).
    const double nanX[4] = {NAN, 5.0, 1.0, 1.0}, far[4] = {5.0, 500.0, 1.0, 1.0};
    const double inside[4] = {5.0, 5.0, 1.0, 1.0};
    std::string nanXBytes(32, '\0'), farBytes(32, '\0'), insideBytes(32, '\0');
    std::memcpy(nanXBytes.data(), nanX, 32);
    std::memcpy(farBytes.data(), far, 32);
    std::memcpy(insideBytes.data(), inside, 32);
    ASSERT_EQ(mkfifo((m_dir / "fifo.pts").c_str(), 0600), 0);
    std::filesystem::create_directory(m_dir / "folder.pts");
    const Case cases[] = {
        {m_dir / "missing.pts", 1, "cannot be opened"},
        {Write("nanx.pts", withHeader(2, 0.0, 10.0) + insideBytes + nanXBytes), 1,
         "record 1: its X or Y is not a finite number"},
        {Write("far.pts", withHeader(3, 0.0, 10.0) + insideBytes + farBytes + insideBytes), 1,
         "record 1 at X 5.0000, Y 500.0000 lies far outside the header's bounds"},
        {m_dir / "folder.pts", 1, "it is a folder, not a points file"},
        {m_dir / "fifo.pts", 1, "it is a named pipe (FIFO), not a points file"},
        {"/dev/null", 1, "it is a device, not a points file"},
        {Write("empty.pts", withHeader(0, 0.0, 10.0)), 1, "no points"},
        {Write("flat.pts", withHeader(1, 5.0, 5.0) + record), 2, "max X"},
        {Write("short.pts", withHeader(3, 0.0, 10.0) + record), 5, "cut short"},
        {Write("nan.pts", withHeader(1, 0.0, 10.0) + nanBytes), 6, "not a finite number"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool({c.path});
        EXPECT_EQ(r.status, c.status) << c.path;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("cannot read " + c.path + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

// A ranking that cannot be written is an error, not a success.
TEST_F(CheckToolTest, AnOutputThatCannotBeWrittenIsReported) {
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IOFBF, 1 << 20);  // the failure shows at the flush
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(RunCheckTool({m_points}, full, err), kCheckToolOutput);
    std::fclose(full);
    std::rewind(err);
    char text[200] = {};
    EXPECT_NE(std::fgets(text, sizeof text, err), nullptr);
    EXPECT_NE(std::string(text).find("cannot write"), std::string::npos) << text;
    std::fclose(err);
}

// The installed program itself: its output and exit status.
TEST_F(CheckToolTest, TheProgramPrintsAndExitsAsTheFunctionDoes) {
    const std::string command = std::string(ORVANE_CHECK_TOOL) + " '" + m_points + "' --top 3";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(out, RunTool({m_points, "--top", "3"}).out);
    const int bad = std::system(
        (std::string(ORVANE_CHECK_TOOL) + " '" + (m_dir / "missing.pts") + "' 2>/dev/null")
            .c_str());
    EXPECT_TRUE(WIFEXITED(bad) && WEXITSTATUS(bad) == 1);

    // Output that cannot be written: a pipe whose reader is gone, a file
    // size limit. Exit 74 with one line on standard error, not a signal.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    close(ends[0]);
    const std::string errPath = m_dir / "err.txt";
    for (int limit : {0, 4}) {
        SCOPED_TRACE(limit ? "file size limit" : "closed pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            if (limit) {
                const rlimit small{static_cast<rlim_t>(limit * 1024),
                                   static_cast<rlim_t>(limit * 1024)};
                setrlimit(RLIMIT_FSIZE, &small);
                freopen((m_dir / "out.csv").c_str(), "w", stdout);
            } else {
                dup2(ends[1], 1);
            }
            freopen(errPath.c_str(), "w", stderr);
            execl(ORVANE_CHECK_TOOL, ORVANE_CHECK_TOOL, m_points.c_str(), nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), kCheckToolOutput);
        const std::vector<std::string> lines = Lines(platformtest::SlurpText(errPath));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("cannot write the ranking"), std::string::npos) << lines[0];
    }
    close(ends[1]);
}

// The pits and peaks of the contours: the program's queue (a project
// loaded with its surface following it, the records handed to the queue as
// the document hands them) and the tool on the same points file list the
// same records, after a load and after an edit saved (a renumbering).
TEST_F(CheckToolTest, PitsListTheSameRecordsAsTheProgramsQueue) {
    const demo::DemoResult& d = demo::SmallProject();
    const std::string points = m_dir / "demo.pts";
    std::filesystem::copy_file(d.pointsFile, points);
    CProject project;
    CProjectSurface surface(project.m_points);
    project.SetEventSink(&surface);
    ASSERT_TRUE(
        project.Load({d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation, points})
            .Loaded());
    project.NextSuspect();  // ranks, as the first n does
    auto pits = [&] {
        return FindContourPits(surface.Surface(), surface.Contours(), project.m_points);
    };
    auto toolIds = [&](const std::string& path) {
        const ToolRun r = RunTool({path, "--min-score", "20", "--pits"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<int> ids;
        for (const std::string& line : Lines(r.out)) {
            int rank = 0, id = 0;
            if (std::sscanf(line.c_str(), "%d,%d,", &rank, &id) == 2) ids.push_back(id);
        }
        return ids;
    };
    project.m_checks.SetExtraSuspects(pits());
    const std::vector<int> queued = project.m_checks.Suspects(20.0, false);
    EXPECT_EQ(toolIds(points), queued);
    // The contours add points below the threshold, and without --pits the tool does not.
    const ToolRun plain = RunTool({points, "--min-score", "20"});
    EXPECT_LT(Lines(plain.out).size(), queued.size() + 1);

    // A record deleted before a peak made by a height edit: the save renumbers.
    CPointEditor& editor = project.m_editor;
    editor.SetSelection({7});
    editor.DeleteSelection();
    const int peak = 1500;
    editor.SetSelection({peak});
    editor.RaiseSelection(25.0, false);
    editor.ReleaseSelection();
    project.m_checks.SetExtraSuspects(pits());
    EXPECT_TRUE(std::binary_search(project.m_checks.ExtraSuspects().begin(),
                                   project.m_checks.ExtraSuspects().end(), peak));
    ASSERT_EQ(project.Save(points), kSaved);
    // Kept through the renumbering as found afresh.
    EXPECT_EQ(project.m_checks.ExtraSuspects(), pits());
    EXPECT_EQ(toolIds(points), project.m_checks.Suspects(20.0, false));
}

}  // namespace
