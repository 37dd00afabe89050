#include "Platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "testing/PlatformTestSupport.h"

namespace {

namespace fs = std::filesystem;

using platformtest::SlurpText;

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.Path().empty()); }
    platformtest::TempDir m_dir{"atomic"};
};

auto Writes(const std::string& text) {
    return [text](FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); };
}

TEST_F(AtomicFileTest, FollowsChainsOfLinksAcrossFolders) {
    fs::create_directory(m_dir / "a");
    fs::create_directory(m_dir / "b");
    std::ofstream(m_dir / "b/data.txt") << "old";
    // first -> a/second -> ../b/data.txt, each relative to its own folder.
    fs::create_symlink("../b/data.txt", m_dir / "a/second");
    fs::create_symlink("a/second", m_dir / "first");
    EXPECT_EQ(Platform::SaveTarget(m_dir / "first"), m_dir / "a/../b/data.txt");
    EXPECT_EQ(Platform::SaveTarget(m_dir / "b/data.txt"), m_dir / "b/data.txt");
    ASSERT_EQ(Platform::SaveFileAtomically(m_dir / "first", Writes("new")), 1);
    EXPECT_EQ(SlurpText(m_dir / "b/data.txt"), "new");
    EXPECT_TRUE(fs::is_symlink(m_dir / "first"));
    EXPECT_TRUE(fs::is_symlink(m_dir / "a/second"));

    // A loop of links names no file to replace.
    fs::create_symlink("loop2", m_dir / "loop1");
    fs::create_symlink("loop1", m_dir / "loop2");
    EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "loop1", Writes("x")), Platform::kSaveOpenError);
    EXPECT_TRUE(fs::is_symlink(m_dir / "loop1"));
}

TEST_F(AtomicFileTest, AWriterThatFailsLeavesTheOldFileAndNoTemporary) {
    std::ofstream(m_dir / "data.txt") << "old contents";
    const size_t before = m_dir.Names().size();
    // The writer writes part of the data, then reports a failure.
    EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "data.txt",
                                           [](FILE* f) {
                                               std::fputs("partial", f);
                                               return false;
                                           }),
              Platform::kSaveWriteError);
    EXPECT_EQ(SlurpText(m_dir / "data.txt"), "old contents");
    EXPECT_EQ(m_dir.Names().size(), before);
    EXPECT_EQ(Platform::RemoveStaleSaveTemporaries(m_dir / "data.txt"), 0);

    // A bare file name is saved in the current folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(m_dir.Path());
    EXPECT_EQ(Platform::SaveFileAtomically("data.txt", Writes("in place")), 1);
    fs::current_path(cwd);
    EXPECT_EQ(SlurpText(m_dir / "data.txt"), "in place");
    EXPECT_EQ(m_dir.Names().size(), before);
}

TEST_F(AtomicFileTest, AFailureNamesTheSystemsReasonAndTheStep) {
    std::ofstream(m_dir / "data.txt") << "old contents";
    const size_t before = m_dir.Names().size();
    Platform::SaveFailure failure;

    // A disk that is full after 16 bytes: the writer's 100 bytes are still
    // buffered, flushing fails.
    {
        platformtest::FileSizeLimit limit(16);
        EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "data.txt", Writes(std::string(100, 'x')),
                                               &failure),
                  Platform::kSaveWriteError);
    }
    EXPECT_EQ(failure.error, EFBIG);
    EXPECT_FALSE(failure.replacing);
    EXPECT_EQ(SlurpText(m_dir / "data.txt"), "old contents");
    // The writer's own failure leaves the reason to the writer.
    EXPECT_EQ(Platform::SaveFileAtomically(
                  m_dir / "data.txt", [](FILE*) { return false; }, &failure),
              Platform::kSaveWriteError);
    EXPECT_EQ(failure.error, 0);
    // A target that becomes a folder with a file in it while it is written:
    // only the rename fails.
    EXPECT_EQ(Platform::SaveFileAtomically(
                  m_dir / "data.txt",
                  [this](FILE* f) {
                      fs::remove(m_dir / "data.txt");
                      fs::create_directory(m_dir / "data.txt");
                      std::ofstream(m_dir / "data.txt/inside") << "x";
                      return Writes("new")(f);
                  },
                  &failure),
              Platform::kSaveWriteError);
    EXPECT_TRUE(failure.replacing);
    EXPECT_NE(failure.error, 0);
    EXPECT_EQ(m_dir.Names().size(), before);  // the temporary is gone each time

    // Targets refused before anything is created.
    EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "missing/p.txt", Writes("x"), &failure),
              Platform::kSaveOpenError);
    EXPECT_EQ(failure.error, ENOENT);
    EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "data.txt", Writes("x"), &failure),
              Platform::kSaveOpenError);
    EXPECT_EQ(failure.error, EISDIR);
    EXPECT_FALSE(failure.replacing);
    EXPECT_EQ(Platform::SaveFileAtomically(m_dir / "a.txt", Writes("new"), &failure), 1);
    EXPECT_EQ(SlurpText(m_dir / "a.txt"), "new");
}

}  // namespace
