// Tests of orvane-match on the small demo project: the rows against the
// generator's true surface, --write against the input, and the exit statuses.
#include "MatchTool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "TIN/TINPoints.h"
#include "testing/DemoTestSupport.h"
#include "testing/PlatformTestSupport.h"

namespace {

using platformtest::ToolRun;

ToolRun RunTool(const std::vector<std::string>& args, FILE* out = nullptr) {
    return platformtest::RunCaptured([&](FILE* o, FILE* e) { return RunMatchTool(args, o, e, 2); },
                                     out);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    // A row ending in a comma has an empty last field; text ending in a line
    // break has no empty last line.
    if (separator == ',' && !text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

class MatchToolTest : public ::testing::Test {
protected:
    const demo::DemoResult& d = demo::SmallProject();
    std::vector<std::string> Inputs() const {
        return {d.leftImage, d.rightImage, d.leftOrientation, d.rightOrientation, d.pointsFile};
    }
    platformtest::TempDir m_dir{"match_tool"};
};

TEST_F(MatchToolTest, RowsAndTheWrittenCopyAgreeAndTheInputStaysAlone) {
    ASSERT_FALSE(d.pointsFile.empty());
    const std::vector<unsigned char> before = platformtest::Slurp(d.pointsFile);
    const std::string copy = m_dir.Path() + "/matched.pts";
    std::vector<std::string> args = Inputs();
    args.insert(args.end(), {"--write", copy});
    const ToolRun r = RunTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(platformtest::Slurp(d.pointsFile), before);
    const std::vector<std::string> lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), static_cast<size_t>(d.pointCount) + 1);  // every point is live
    EXPECT_EQ(lines[0], "id,x,y,z,x_new,y_new,z_new,status,correlation,sigma_px");

    CTINPoints input, written;
    ASSERT_EQ(input.ReadPts(d.pointsFile), 1);
    ASSERT_EQ(written.ReadPts(copy), 1);
    ASSERT_EQ(written.GetCount(), input.GetCount());
    int matched = 0;
    for (size_t k = 1; k < lines.size(); ++k) {
        const std::vector<std::string> f = Split(lines[k], ',');
        ASSERT_EQ(f.size(), 10u) << lines[k];
        const int id = std::stoi(f[0]);
        ASSERT_EQ(id, static_cast<int>(k - 1));
        const TINPoint& in = *input.GetPoint(id);
        const TINPoint& out = *written.GetPoint(id);
        char old[3][64];
        std::snprintf(old[0], 64, "%.3f", double{in.x});
        std::snprintf(old[1], 64, "%.3f", double{in.y});
        std::snprintf(old[2], 64, "%.3f", double{in.z});
        EXPECT_TRUE(f[1] == old[0] && f[2] == old[1] && f[3] == old[2]) << lines[k];
        const std::string& status = f[7];
        if (status != "matched") {
            ASSERT_TRUE(status == "no-match" || status == "outside") << lines[k];
            EXPECT_TRUE(f[4] == f[1] && f[5] == f[2] && f[6] == f[3]) << lines[k];
            if (status == "outside") {
                EXPECT_TRUE(f[8].empty() && f[9].empty()) << lines[k];
            }
            EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0) << "record " << id << " changed";
            continue;
        }
        ++matched;
        EXPECT_GE(std::stod(f[8]), 0.8);
        EXPECT_LE(std::stod(f[9]), 0.05);
        const double x = out.x, z = out.z;
        EXPECT_NEAR(std::stod(f[4]), x, 6e-4);
        EXPECT_NEAR(std::stod(f[6]), z, 6e-4);
    }
    // How close the matches come is the matcher's own test; here: they are many.
    EXPECT_GT(matched, d.pointCount / 2);
    EXPECT_LE(written.m_dMinZ, input.m_dMinZ);
}

TEST_F(MatchToolTest, ExitStatuses) {
    std::vector<std::string> args = Inputs();
    const std::string ids = m_dir.Write("ids.txt", "5\n17\n\n42\n");
    args.insert(args.end(), {"--ids", ids, "--window", "9"});
    ToolRun r = RunTool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].substr(0, 3), "42,");

    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--window", "8"},
                                                  {"--window", "33"},
                                                  {"--frobnicate"},
                                                  {"--write", d.pointsFile},
                                                  {"--range", "-1"}}) {
        args = Inputs();
        args.insert(args.end(), extra.begin(), extra.end());
        r = RunTool(args);
        EXPECT_EQ(r.status, kMatchToolUsage) << extra[0];
        EXPECT_EQ(r.out, "");
    }
    // A link to the input is the input.
    const std::string link = m_dir.Path() + "/link.pts";
    ASSERT_EQ(symlink(d.pointsFile.c_str(), link.c_str()), 0);
    args = Inputs();
    args.insert(args.end(), {"--write", link});
    EXPECT_EQ(RunTool(args).status, kMatchToolUsage);

    // Unreadable inputs: 1, the message names the file, no rows.
    for (size_t k = 0; k < 5; ++k) {
        args = Inputs();
        args[k] = m_dir.Path() + "/missing";
        r = RunTool(args);
        EXPECT_EQ(r.status, 1) << k;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(args[k]), std::string::npos) << r.err;
    }
    args = Inputs();
    args.insert(args.end(), {"--ids", m_dir.Write("bad.txt", "3\n999999\n")});
    EXPECT_EQ(RunTool(args).status, 1);

    // Outputs that cannot be written: 74.
    args = Inputs();
    args.insert(args.end(), {"--ids", ids, "--write", m_dir.Path() + "/no/such/folder.pts"});
    EXPECT_EQ(RunTool(args).status, kMatchToolOutput);
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    args = Inputs();
    args.insert(args.end(), {"--ids", ids});
    EXPECT_EQ(RunTool(args, full).status, kMatchToolOutput);
    std::fclose(full);
}

}  // namespace
