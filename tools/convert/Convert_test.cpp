// orvane-convert run as a program: conversions between .pts, .las and .xyz
// keep the points, and every error exits non-zero with a message on standard
// error naming the file, and writes nothing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "PointIO/PointIO.h"
#include "TIN/TINPoints.h"
#include "testing/PlatformTestSupport.h"

namespace fs = std::filesystem;

namespace {

using platformtest::TempDir;

struct RunResult {
    int status = -1;
    std::string err;
};

// Runs the converter through the shell (`prefix` may set limits first).
RunResult Convert(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
    const std::string errFile = dir / "stderr.txt";
    const std::string cmd =
        prefix + "exec " + ORVANE_CONVERT + " " + args + " >/dev/null 2>" + errFile;
    const int raw = std::system(("sh -c '" + cmd + "'").c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return r;
}

void WriteDemoPts(const std::string& path, int n) {
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    CTINPoints set(n);
    for (int i = 0; i < n; ++i)
        set.m_pPoints[static_cast<size_t>(i)] = {i, 431000.0 + 500.0 * u(rng),
                                                 5378000.0 + 400.0 * u(rng), 300.0 + 20.0 * u(rng),
                                                 u(rng)};
    DerivePointsHeader(set);
    ASSERT_EQ(set.WritePts(path), n);
}

TEST(ConvertProgram, ChainOfConversionsKeepsThePoints) {
    TempDir dir("convert_test");
    WriteDemoPts(dir / "in.pts", 5000);
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"in.pts", "a.las"}, {"a.las", "b.xyz"}, {"b.xyz", "c.PTS"}, {"c.PTS", "d.xyz"}}) {
        const RunResult r = Convert(dir, (dir / from) + " " + (dir / to));
        ASSERT_EQ(r.status, 0) << from << " -> " << to << ": " << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    CTINPoints in, out;
    ASSERT_EQ(in.ReadPts(dir / "in.pts"), 1);
    ASSERT_EQ(out.ReadPts(dir / "c.PTS"), 1);
    ASSERT_EQ(out.GetCount(), 5000);
    for (int i = 0; i < 5000; ++i) {
        EXPECT_NEAR(out.GetPoint(i)->x, in.GetPoint(i)->x, 0.0005 + 1e-9);
        EXPECT_NEAR(out.GetPoint(i)->z, in.GetPoint(i)->z, 0.0005 + 1e-9);
        EXPECT_EQ(double{out.GetPoint(i)->weight}, double{in.GetPoint(i)->weight});
    }
    std::ifstream b(dir / "b.xyz"), d(dir / "d.xyz");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(b), {}),
              std::string(std::istreambuf_iterator<char>(d), {}));
}

TEST(ConvertProgram, ErrorsExitNonZeroNameTheFileAndWriteNothing) {
    TempDir dir("convert_test");
    WriteDemoPts(dir / "good.pts", 20000);
    std::ofstream(dir / "bad.xyz") << "1 2 3\n4 five 6\n";
    std::ofstream(dir / "empty.pts");
    std::ofstream(dir / "packed.laz") << "LASF";
    std::ofstream(dir / "points.csv") << "1 2 3\n";
    fs::create_directory(dir / "sub.xyz");
    const std::vector<std::string> before = dir.Names();

    struct Case {
        std::string args, prefix, named, also;
        int status;
    };
    const std::vector<Case> cases = {
        {(dir / "missing.pts") + " " + (dir / "o.las"), "", dir / "missing.pts", "", 1},
        {(dir / "bad.xyz") + " " + (dir / "o.las"), "", dir / "bad.xyz", "line 2", 1},
        {(dir / "empty.pts") + " " + (dir / "o.xyz"), "", dir / "empty.pts", "", 1},
        {(dir / "packed.laz") + " " + (dir / "o.pts"), "", dir / "packed.laz", "LAZ", 1},
        {(dir / "points.csv") + " " + (dir / "o.pts"), "", dir / "points.csv", "", 1},
        {(dir / "good.pts") + " " + (dir / "o.csv"), "", dir / "o.csv", "", 1},
        {(dir / "good.pts") + " " + (dir / "no/such/o.las"), "", dir / "no/such/o.las", "", 1},
        // A file size limit stands for a full disk: the write fails half-way.
        {(dir / "good.pts") + " " + (dir / "o.las"), "trap \"\" XFSZ; ulimit -f 64; ",
         dir / "o.las", "", 1},
        {(dir / "good.pts") + " " + (dir / "o.xyz"), "trap \"\" XFSZ; ulimit -f 64; ",
         dir / "o.xyz", "", 1},
        // The same without the shell's help: the program itself must not be
        // killed by the signal (exit 153, no word, a temporary left).
        {(dir / "good.pts") + " " + (dir / "o.las"), "ulimit -f 64; ", dir / "o.las",
         "File too large", 1},
        // Inputs that are no regular files.
        {"/dev/null " + (dir / "o.las"), "", "/dev/null", "", 1},
        {(dir / "sub.xyz") + " " + (dir / "o.las"), "", dir / "sub.xyz", "it is a folder", 1},
        {dir / "good.pts", "", "usage", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = Convert(dir, c.args, c.prefix);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.also), std::string::npos) << r.err;
        EXPECT_EQ(dir.Names(), before);  // nothing written, no temporary left
    }

    // Standard output a pipe whose reader is gone: the file is written, the
    // summary cannot be; exit 74 with one line, no temporary.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    close(ends[0]);
    const std::string errPath = dir / "closed.err";
    const std::string in = dir / "good.pts", out = dir / "o.xyz";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(ends[1], 1);
        if (!freopen(errPath.c_str(), "w", stderr)) _exit(126);
        execl(ORVANE_CONVERT, ORVANE_CONVERT, in.c_str(), out.c_str(), nullptr);
        _exit(127);
    }
    close(ends[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string err;
    {
        std::ifstream errIn(errPath);
        err.assign(std::istreambuf_iterator<char>(errIn), {});
    }
    fs::remove(errPath);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 74) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("standard output"), std::string::npos) << err;
    std::vector<std::string> after = before;
    after.push_back("o.xyz");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(dir.Names(), after);
}

}  // namespace
