#include "Platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Platform/PlatformTestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "atomic_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    size_t Entries() const {
        return size_t(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }
    std::string m_dir;
};

auto Writes(const std::string& text) {
    return [text](FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); };
}

TEST_F(AtomicFileTest, FollowsChainsOfLinksAcrossFolders) {
    fs::create_directory(File("a"));
    fs::create_directory(File("b"));
    std::ofstream(File("b/data.txt")) << "old";
    // first -> a/second -> ../b/data.txt, each relative to its own folder.
    fs::create_symlink("../b/data.txt", File("a/second"));
    fs::create_symlink("a/second", File("first"));
    EXPECT_EQ(Platform::SaveTarget(File("first")), File("a/../b/data.txt"));
    EXPECT_EQ(Platform::SaveTarget(File("b/data.txt")), File("b/data.txt"));
    ASSERT_EQ(Platform::SaveFileAtomically(File("first"), Writes("new")), 1);
    EXPECT_EQ(ReadAll(File("b/data.txt")), "new");
    EXPECT_TRUE(fs::is_symlink(File("first")));
    EXPECT_TRUE(fs::is_symlink(File("a/second")));

    // A loop of links names no file to replace.
    fs::create_symlink("loop2", File("loop1"));
    fs::create_symlink("loop1", File("loop2"));
    EXPECT_EQ(Platform::SaveFileAtomically(File("loop1"), Writes("x")), Platform::kSaveOpenError);
    EXPECT_TRUE(fs::is_symlink(File("loop1")));
}

TEST_F(AtomicFileTest, AWriterThatFailsLeavesTheOldFileAndNoTemporary) {
    std::ofstream(File("data.txt")) << "old contents";
    const size_t before = Entries();
    // The writer writes part of the data, then reports a failure.
    EXPECT_EQ(Platform::SaveFileAtomically(File("data.txt"),
                                           [](FILE* f) {
                                               std::fputs("partial", f);
                                               return false;
                                           }),
              Platform::kSaveWriteError);
    EXPECT_EQ(ReadAll(File("data.txt")), "old contents");
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(Platform::RemoveStaleSaveTemporaries(File("data.txt")), 0);

    // A bare file name is saved in the current folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(m_dir);
    EXPECT_EQ(Platform::SaveFileAtomically("data.txt", Writes("in place")), 1);
    fs::current_path(cwd);
    EXPECT_EQ(ReadAll(File("data.txt")), "in place");
    EXPECT_EQ(Entries(), before);
}

TEST_F(AtomicFileTest, AFailureNamesTheSystemsReasonAndTheStep) {
    std::ofstream(File("data.txt")) << "old contents";
    const size_t before = Entries();
    Platform::SaveFailure failure;

    // A disk that is full after 16 bytes: the writer's 100 bytes are still
    // buffered, flushing fails.
    {
        platformtest::FileSizeLimit limit(16);
        EXPECT_EQ(
            Platform::SaveFileAtomically(File("data.txt"), Writes(std::string(100, 'x')), &failure),
            Platform::kSaveWriteError);
    }
    EXPECT_EQ(failure.error, EFBIG);
    EXPECT_FALSE(failure.replacing);
    EXPECT_EQ(ReadAll(File("data.txt")), "old contents");
    // The writer's own failure leaves the reason to the writer.
    EXPECT_EQ(Platform::SaveFileAtomically(
                  File("data.txt"), [](FILE*) { return false; }, &failure),
              Platform::kSaveWriteError);
    EXPECT_EQ(failure.error, 0);
    // A target that becomes a folder with a file in it while it is written:
    // only the rename fails.
    EXPECT_EQ(Platform::SaveFileAtomically(
                  File("data.txt"),
                  [this](FILE* f) {
                      fs::remove(File("data.txt"));
                      fs::create_directory(File("data.txt"));
                      std::ofstream(File("data.txt/inside")) << "x";
                      return Writes("new")(f);
                  },
                  &failure),
              Platform::kSaveWriteError);
    EXPECT_TRUE(failure.replacing);
    EXPECT_NE(failure.error, 0);
    EXPECT_EQ(Entries(), before);  // the temporary is gone each time

    // Targets refused before anything is created.
    EXPECT_EQ(Platform::SaveFileAtomically(File("missing/p.txt"), Writes("x"), &failure),
              Platform::kSaveOpenError);
    EXPECT_EQ(failure.error, ENOENT);
    EXPECT_EQ(Platform::SaveFileAtomically(File("data.txt"), Writes("x"), &failure),
              Platform::kSaveOpenError);
    EXPECT_EQ(failure.error, EISDIR);
    EXPECT_FALSE(failure.replacing);
    EXPECT_EQ(Platform::SaveFileAtomically(File("a.txt"), Writes("new"), &failure), 1);
    EXPECT_EQ(ReadAll(File("a.txt")), "new");
}

}  // namespace
