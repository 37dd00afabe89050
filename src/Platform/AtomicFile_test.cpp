#include "Platform/AtomicFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

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

// Save failures and the second line each one gets, and names up to the
// file system's 255 bytes that save: a table of targets, each with what the
// save gives, the system's reason in words, and the old file left whole with
// no temporary beside it.
// The superuser is not bound by permissions: run as nobody meanwhile.
class WithoutPrivileges {
public:
    WithoutPrivileges() {
        if (geteuid() != 0) return;
        m_dropped = setegid(65534) == 0 && seteuid(65534) == 0;
    }
    ~WithoutPrivileges() {
        if (m_dropped) (void)!(seteuid(0) == 0 && setegid(0) == 0);
    }
    WithoutPrivileges(const WithoutPrivileges&) = delete;
    WithoutPrivileges& operator=(const WithoutPrivileges&) = delete;

private:
    bool m_dropped = false;
};

TEST(AtomicFileFailures, SaveFailuresGiveTheSystemsReasonAndLongNamesSave) {
    const WithoutPrivileges user;
    ASSERT_NE(geteuid(), 0u);
    const platformtest::TempDir dir("atomic-failures");
    ASSERT_FALSE(dir.Path().empty());
    fs::create_directory(dir / "locked");
    std::ofstream(dir / "locked/points.pts") << "old";
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(dir / "readonly.pts") << "old";
    fs::permissions(dir / "readonly.pts", fs::perms::owner_read);
    std::ofstream(dir / "full.pts") << "old";
    std::ofstream(dir / "limit.pts") << "old";
    // The stream's file becomes /dev/full: its next write finds no space.
    auto onFullDisk = [](FILE* f) {
        const int full = open("/dev/full", O_WRONLY);
        const bool swapped = full >= 0 && dup2(full, fileno(f)) >= 0;
        if (full >= 0) close(full);
        return swapped && std::fwrite("new", 1, 3, f) == 3 && std::fflush(f) == 0;
    };
    const std::string folderLine =
        "The folder cannot be written; use File > Save As to save elsewhere.";
    struct Row {
        std::string name;  // in the test folder
        std::function<bool(FILE*)> write;
        long fileSizeLimit;  // bytes, 0 none
        int result;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"locked/points.pts", Writes("new"), 0, Platform::kSaveOpenError, folderLine},
        {"readonly.pts", Writes("new"), 0, Platform::kSaveOpenError,
         "The file cannot be written; use File > Save As to save elsewhere."},
        {"full.pts", onFullDisk, 0, Platform::kSaveWriteError, "No space left on device."},
        {"limit.pts", Writes(std::string(5000, 'x')), 100, Platform::kSaveWriteError,
         "The file is larger than this system allows."},
        {"limit.pts", [](FILE*) { return false; }, 0, Platform::kSaveWriteError, ""},
        {std::string(256, 'n'), Writes("new"), 0, Platform::kSaveOpenError,
         "The file name is too long."},
        // Names the old temporaries (name + 19 bytes) could not follow.
        {std::string(237, 'a'), Writes("new"), 0, 1, ""},
        {std::string(250, 'b') + ".pts", Writes("new"), 0, 1, ""},
        {std::string(227, 'c') + ".checks", Writes("new"), 0, 1, ""},
    };
    for (const Row& row : rows) {
        const std::string path = dir / row.name;
        const std::string old = SlurpText(path);
        const std::vector<std::string> before = dir.Names();
        Platform::SaveFailure failure;
        int result = 0;
        {
            std::unique_ptr<platformtest::FileSizeLimit> limit;
            if (row.fileSizeLimit > 0)
                limit = std::make_unique<platformtest::FileSizeLimit>(row.fileSizeLimit);
            result = Platform::SaveFileAtomically(path, row.write, &failure);
        }
        const std::string label = row.name.substr(0, 20) + " (" + row.reason + ")";
        EXPECT_EQ(result, row.result) << label;
        EXPECT_EQ(Platform::SaveFailureReason(failure), row.reason) << label;
        if (result == 1) {
            EXPECT_EQ(SlurpText(path), "new") << label;
            const size_t length = fs::path(path).filename().string().size();
            EXPECT_EQ(dir.Names().size(), before.size() + (old.empty() ? 1 : 0)) << label;
            EXPECT_LE(length, 255u);
        } else {
            EXPECT_EQ(SlurpText(path), old) << label;
            EXPECT_EQ(dir.Names(), before) << label;
        }
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(fs::directory_iterator(dir / "locked") != fs::directory_iterator(), true);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "locked"), fs::directory_iterator()), 1);
}

// The clean-up takes only the temporaries the writer names, once they are a
// few minutes old and unlocked; a user's look-alike files stay.
TEST_F(AtomicFileTest, CleanUpRemovesOnlyOldUnlockedTemporariesOfTheExactName) {
    const std::string name(230, 'p');
    std::ofstream(m_dir / name) << "points";
    const std::string stem = Platform::SaveTemporaryStem(name);
    EXPECT_LE(stem.size(), 209u);
    EXPECT_EQ(stem.compare(0, 200, name, 0, 200), 0);
    EXPECT_NE(Platform::SaveTemporaryStem(name + "x"), stem);  // the hash tells them apart
    auto make = [&](const std::string& file, bool old) {
        std::ofstream(m_dir / file) << "x";
        if (old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
            utimensat(AT_FDCWD, (m_dir / file).c_str(), times, 0);
        }
    };
    const std::string stale = stem + ".orvane-save-Ab12Cd";
    const std::vector<std::string> kept = {
        stem + ".orvane-save-Fresh1",                 // written to lately
        stem + ".orvane-save-Lock01",                 // held by a save in progress
        name + ".orvane-save-backup",                 // a user's file of the old pattern
        stem + ".orvane-save-abcdefg",                // not six characters
        stem.substr(0, 200) + ".orvane-save-Ab12Cd",  // no hash
    };
    make(stale, true);
    make(kept[0], false);
    for (size_t i = 1; i < kept.size(); ++i) make(kept[i], true);
    const int held = open((m_dir / kept[1]).c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(Platform::RemoveStaleSaveTemporaries(m_dir / name), 1);
    EXPECT_FALSE(fs::exists(m_dir / stale));
    for (const std::string& file : kept) EXPECT_TRUE(fs::exists(m_dir / file)) << file;
    close(held);
    EXPECT_EQ(Platform::RemoveStaleSaveTemporaries(m_dir / name), 1);  // the lock went
    // A save of the file takes the old ones too, and leaves its own nowhere.
    make(stale, true);
    ASSERT_EQ(Platform::SaveFileAtomically(m_dir / name, Writes("new")), 1);
    EXPECT_FALSE(fs::exists(m_dir / stale));
    EXPECT_TRUE(fs::exists(m_dir / kept[0]));
}

}  // namespace
