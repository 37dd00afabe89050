// Saving points files under faults injected into real processes: a file-size
// limit, a process killed in the middle of the bulk write, a save running in
// another process, a full file system, folders and files the process may not
// write, and a save by root of a user's file. Whatever happens, the file on
// disk is the old one, byte for byte, or the new one, complete.
#include "TIN/PointsFileSave.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Platform/AtomicFile.h"
#include "testing/PlatformTestSupport.h"

namespace {

namespace fs = std::filesystem;
using platformtest::FileSizeLimit;
using platformtest::SlurpText;

using platformtest::TempDir;

// The test folders may be entered by other users: a process saving as
// nobody must reach the files.
constexpr mode_t kFolderMode = 0755;

// A compacted set of n random records, ready to save.
std::unique_ptr<CTINPoints> RandomSet(int n, unsigned seed) {
    auto set = std::make_unique<CTINPoints>(n);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1000);
    for (int i = 0; i < n; ++i) {
        set->SetPoint(i, 500000 + u(random), 4000000 + u(random), i);
        set->GetPoint(i)->z = u(random) / 10;
        set->GetPoint(i)->weight = 0.5;
    }
    set->SetSpacing(1.0, 1.0);
    set->Compact();
    return set;
}

// The bytes WritePts gives for a set.
std::string Bytes(const CTINPoints& set, const TempDir& dir) {
    const std::string path = dir / "expected.bytes";
    EXPECT_EQ(set.WritePts(path), set.GetCount());
    std::string bytes = SlurpText(path);
    fs::remove(path);
    return bytes;
}

// Names in `folder` that are temporaries of saves of `name`.
std::vector<std::string> Temporaries(const std::string& folder, const std::string& name) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(Platform::SaveTemporaryStem(name) + ".orvane-save-", 0) == 0)
            found.push_back(file);
    }
    return found;
}

// Runs `body` in a child process: its return value as the exit status, or
// minus the signal that ended it.
int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

// Sets a file's modification time an hour back: a temporary that old and
// unlocked is a dead save's.
void MakeOld(const std::string& path) {
    const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Exit status of a child reporting a save result (results are small negatives).
int Status(int result) {
    return result + 10;
}

void BecomeNobody() {
    if (geteuid() != 0) return;  // already without the power to ignore permissions
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(99);
}

TEST(PointsFileSave, ReplacesTheFileALinkNamesAndKeepsItsMode) {
    TempDir dir("pts_save", kFolderMode);
    const std::string pts = dir / "points.pts";
    const auto before = RandomSet(50, 1);
    const auto after = RandomSet(70, 2);
    ASSERT_EQ(before->WritePts(pts), 50);
    ASSERT_EQ(chmod(pts.c_str(), 0640), 0);
    ASSERT_EQ(symlink("points.pts", (dir / "link.pts").c_str()), 0);

    ASSERT_EQ(SavePointsFile(*after, dir / "link.pts"), 1);
    struct stat info {};
    ASSERT_EQ(lstat((dir / "link.pts").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(pts.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(SlurpText(pts), Bytes(*after, dir));
    CTINPoints reread;
    EXPECT_EQ(reread.ReadPts(pts), 1);
    EXPECT_TRUE(Temporaries(dir.Path(), "points.pts").empty());

    // A link to a file not there yet creates the file; a new file is 0666
    // less the umask, as fopen would make it.
    ASSERT_EQ(symlink("created.pts", (dir / "ahead.pts").c_str()), 0);
    const mode_t mask = umask(027);
    EXPECT_EQ(SavePointsFile(*after, dir / "ahead.pts"), 1);
    umask(mask);
    ASSERT_EQ(stat((dir / "created.pts").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(SlurpText(dir / "created.pts"), Bytes(*after, dir));
    ASSERT_EQ(lstat((dir / "ahead.pts").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));

    // Sets that would not read back are not written at all.
    const std::string old = SlurpText(pts);
    CTINPoints empty;
    EXPECT_EQ(SavePointsFile(empty, pts), -3);
    auto flat = RandomSet(5, 3);
    flat->m_dMaxX = flat->m_dMinX;
    EXPECT_EQ(SavePointsFile(*flat, pts), -3);
    EXPECT_EQ(SlurpText(pts), old);

    // Not a regular file, no such folder, no name: cannot be opened.
    ASSERT_EQ(mkfifo((dir / "fifo.pts").c_str(), 0644), 0);
    EXPECT_EQ(SavePointsFile(*after, dir / "fifo.pts"), -1);
    ASSERT_EQ(lstat((dir / "fifo.pts").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(SavePointsFile(*after, dir / "missing/points.pts"), -1);
    EXPECT_EQ(SavePointsFile(*after, ""), -1);
    EXPECT_EQ(SavePointsFile(*after, dir.Path() + "/"), -1);
}

TEST(PointsFileSaveFaults, FileSizeLimitIsAWriteErrorAndLeavesTheOldFileWhole) {
    TempDir dir("pts_save", kFolderMode);
    const std::string pts = dir / "points.pts";
    ASSERT_EQ(RandomSet(100, 4)->WritePts(pts), 100);
    const std::string original = SlurpText(pts);
    const auto big = RandomSet(20000, 5);  // 640 kB
    // The limit stops the bulk write half way; with SIGXFSZ ignored the write
    // fails with EFBIG, like a full disk.
    const int status = InChild([&] {
        const FileSizeLimit limit(8192);
        return Status(SavePointsFile(*big, pts));
    });
    EXPECT_EQ(status, Status(-2));
    EXPECT_EQ(SlurpText(pts), original);
    EXPECT_TRUE(Temporaries(dir.Path(), "points.pts").empty());
}

TEST(PointsFileSaveFaults, SaveKilledMidWriteLeavesAnOrphanTheNextSaveRemoves) {
    TempDir dir("pts_save", kFolderMode);
    const std::string pts = dir / "points.pts";
    ASSERT_EQ(RandomSet(100, 6)->WritePts(pts), 100);
    const std::string original = SlurpText(pts);
    const auto big = RandomSet(20000, 7);
    // The default action of SIGXFSZ ends the process inside the bulk write,
    // while it holds the lock on its temporary.
    const int status = InChild([&] {
        const FileSizeLimit limit(1000, FileSizeLimit::Beyond::kKills);
        return Status(SavePointsFile(*big, pts));
    });
    EXPECT_EQ(status, -SIGXFSZ);
    EXPECT_EQ(SlurpText(pts), original);
    const std::vector<std::string> orphans = Temporaries(dir.Path(), "points.pts");
    ASSERT_EQ(orphans.size(), 1u);
    EXPECT_EQ(fs::file_size(dir / orphans[0]), 1000u);

    // The lock died with the process: a save once the orphan is a few
    // minutes old clears it away (a fresh one might be a save in progress on
    // a file system without locks).
    ASSERT_EQ(SavePointsFile(*big, pts), 1);
    EXPECT_EQ(Temporaries(dir.Path(), "points.pts").size(), 1u);
    MakeOld(dir / orphans[0]);
    ASSERT_EQ(SavePointsFile(*big, pts), 1);
    EXPECT_EQ(SlurpText(pts), Bytes(*big, dir));
    EXPECT_TRUE(Temporaries(dir.Path(), "points.pts").empty());
}

TEST(PointsFileSaveFaults, TemporaryOfASaveInAnotherProcessIsKeptAndNothingElseIsTouched) {
    TempDir dir("pts_save", kFolderMode);
    const std::string pts = dir / "points.pts";
    ASSERT_EQ(RandomSet(10, 8)->WritePts(pts), 10);
    const std::string stem = Platform::SaveTemporaryStem("points.pts");
    const std::string held = dir / (stem + ".orvane-save-Held01");
    // Lookalikes that are not stale temporaries of points.pts.
    const std::vector<std::string> others = {
        stem + ".orvane-save-abc",
        stem + ".orvane-save-abcdefg",
        Platform::SaveTemporaryStem("other.pts") + ".orvane-save-ABCDEF",
        stem + ".orvane-save-DirDir",
        stem + ".orvane-save-Link01",
        stem + ".orvane-save-ab_cd1",
        "points.pts.orvane-save-backup"};
    for (const std::string& name : others) {
        if (name.find("DirDir") != std::string::npos) {
            fs::create_directory(dir / name);
        } else if (name.find("Link01") != std::string::npos) {
            fs::create_symlink("points.pts", dir / name);
        } else {
            std::ofstream(dir / name) << "keep";
        }
    }
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(release[1]);
        const int fd = open(held.c_str(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1) _exit(1);
        char c;
        (void)!read(release[0], &c, 1);  // until the parent closes its end
        _exit(0);
    }
    close(release[0]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    // Old enough to be a dead save's: the lock alone keeps `held`, the name
    // alone keeps the others.
    MakeOld(held);
    for (const std::string& name : others)
        if (fs::is_regular_file(fs::symlink_status(dir / name))) MakeOld(dir / name);

    EXPECT_EQ(SavePointsFile(*RandomSet(20, 9), pts), 1);
    EXPECT_EQ(RemoveStalePointsSaves(pts), 0);
    EXPECT_TRUE(fs::exists(held));

    close(release[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(RemoveStalePointsSaves(pts), 1);
    EXPECT_FALSE(fs::exists(held));
    for (const std::string& name : others) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir / name))) << name;
    }
    EXPECT_EQ(RemoveStalePointsSaves(dir / "missing/points.pts"), -1);
    close(ready[0]);
    close(ready[1]);
}

TEST(PointsFileSaveFaults, FullFileSystemIsAWriteError) {
    TempDir dir("pts_save", kFolderMode);
    const std::string mountPoint = dir / "small";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    const auto small = RandomSet(100, 10);
    const auto big = RandomSet(20000, 11);
    const std::string expected = Bytes(*small, dir);
    // A 64 kB file system of its own, in a mount namespace of the child.
    const int status = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        const std::string pts = mountPoint + "/points.pts";
        if (SavePointsFile(*small, pts) != 1) return 1;
        const int result = SavePointsFile(*big, pts);
        if (SlurpText(pts) != expected) return 2;
        if (!Temporaries(mountPoint, "points.pts").empty()) return 3;
        return Status(result);
    });
    if (status == 77) GTEST_SKIP() << "no mount namespace for a small file system here";
    EXPECT_EQ(status, Status(-2));
}

TEST(PointsFileSaveFaults, SavesAreRefusedWhereTheUserMayNotWrite) {
    TempDir dir("pts_save", kFolderMode);
    const auto set = RandomSet(30, 12);
    // A folder the user may not write, holding a file the user may write: no
    // temporary can be made.
    const std::string locked = dir / "locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    const std::string inLocked = locked + "/points.pts";
    ASSERT_EQ(RandomSet(10, 13)->WritePts(inLocked), 10);
    ASSERT_EQ(chmod(inLocked.c_str(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    // A file the user may not write in a folder open to all: refused as an
    // in-place write would be.
    const std::string open = dir / "open";
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    const std::string readOnly = open + "/points.pts";
    ASSERT_EQ(RandomSet(10, 14)->WritePts(readOnly), 10);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    const std::string lockedBytes = SlurpText(inLocked);
    const std::string readOnlyBytes = SlurpText(readOnly);

    const int status = InChild([&] {
        BecomeNobody();
        const int first = SavePointsFile(*set, inLocked);
        const int second = SavePointsFile(*set, readOnly);
        return first == -1 && second == -1 ? 0 : 10 + (first + 3) * 8 + (second + 3);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(SlurpText(inLocked), lockedBytes);
    EXPECT_EQ(SlurpText(readOnly), readOnlyBytes);
    EXPECT_TRUE(Temporaries(open, "points.pts").empty());
}

TEST(PointsFileSaveFaults, RootSaveKeepsTheFilesOwnerGroupAndMode) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    TempDir dir("pts_save", kFolderMode);
    const std::string pts = dir / "points.pts";
    ASSERT_EQ(RandomSet(10, 15)->WritePts(pts), 10);
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    ASSERT_EQ(chown(pts.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(pts.c_str(), 0640), 0);

    const auto set = RandomSet(40, 16);
    ASSERT_EQ(SavePointsFile(*set, pts), 1);
    struct stat info {};
    ASSERT_EQ(stat(pts.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(SlurpText(pts), Bytes(*set, dir));
}

}  // namespace
