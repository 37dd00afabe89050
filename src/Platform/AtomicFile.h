// Saving a file so that it is either wholly replaced or left as it was, and
// clearing away what a save that died half way left behind.
//
// The new contents go to a temporary beside the file, named
// <stem>.orvane-save-XXXXXX (six letters or digits; the stem is
// SaveTemporaryStem of the file's name, so that the temporary's name fits the
// file system's 255 bytes whenever the file's does), which the saving process
// holds under an exclusive flock for as long as it exists; only once it is
// complete on disk is it renamed over the file. A crash, a full disk or a
// size limit therefore never leaves a half-written file, only (after a crash)
// an unlocked temporary, which a later save of the same file removes once it
// is a few minutes old. POSIX only (flock, fsync, rename).
#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

namespace Platform {

// Results of SaveFileAtomically besides 1 (saved).
constexpr int kSaveOpenError = -1;   // cannot open or create: "Open file <path> error!"
constexpr int kSaveWriteError = -2;  // writing failed: "Write file <path> error!"

// Whether a save waits for the new contents to reach the disk. Durable:
// fsync before the rename and a sync of the folder after it, so that after a
// power loss the file is the old one or the new one, complete. Unsynced: no
// fsync (much faster for large files); a failed write, a full disk or a crash
// of the process still leaves the old file, but a power loss soon after the
// save may not. For files the operator can make again (exports).
enum class SaveDurability { Durable, Unsynced };

// Why SaveFileAtomically failed, for messages such as "No space left on
// device" (std::strerror(error)).
struct SaveFailure {
    // errno of the first call that failed (stat, access, creating the
    // temporary, fflush, fsync, fclose, rename), or as open(2) would give
    // it: ENOENT for an empty path, EISDIR for a folder (or a path ending in
    // '/'), EINVAL for another kind of file that is not a regular one. When
    // `write` returned false: errno as it left it if the stream shows an
    // error (a write of the stream failed), else 0 (the writer knows its own
    // reason).
    int error = 0;
    // True when everything was written and only renaming the temporary over
    // the target failed.
    bool replacing = false;
    // True when the temporary could not be created in the target's folder
    // (the target itself was not refused).
    bool inFolder = false;
};

// The system's reason for a failed save, as a second line under the
// message that names the file ("Open file <path> error!", "Write file <path>
// error!"): for example "The folder cannot be written; use File > Save As to
// save elsewhere." or "No space left on device."; empty when there is no
// system reason (the writer failed on its own).
std::string SaveFailureReason(const SaveFailure& failure);

// The part of a temporary's name before ".orvane-save-": at most the first
// 200 bytes of `fileName` (cut at a character boundary), a dot and eight hex
// digits of a hash of the whole name.
std::string SaveTemporaryStem(const std::string& fileName);

// How old an unlocked temporary must be before a clean-up takes it for the
// remains of a save that died (seconds).
constexpr time_t kStaleTemporaryAge = 300;

// The file a save of `path` replaces: `path` with its symbolic links followed
// (also a link to a file that does not exist yet), or `path` itself.
std::string SaveTarget(const std::string& path);

// Writes the file at `path` through `write`, which gets the open stream and
// returns true when it wrote everything:
// - links are followed: the file a link names is replaced, the link stays;
// - an existing target that is not a regular file, or that this process may
//   not write, is refused (kSaveOpenError), as an in-place write would be;
//   so is a folder in which no temporary can be created;
// - the stale temporaries of the same target are removed first
//   (RemoveStaleSaveTemporaries);
// - the temporary gets the target's permission bits and, where the process
//   may set them, its owner and group (a new file: 0666 less the umask);
// - write, fflush, fsync, fclose, then rename over the target, and the
//   folder is synced (without fsync and folder sync when `durability` is
//   Unsynced);
// - on any failure the temporary is removed and the old file is byte for
//   byte as it was (kSaveWriteError once writing has started).
// 1 saved, kSaveOpenError or kSaveWriteError. An empty path: kSaveOpenError.
// A caller that names the system's reason passes `failure`, which is filled
// in on failure (SaveFailure).
int SaveFileAtomically(const std::string& path, const std::function<bool(FILE*)>& write,
                       SaveFailure* failure = nullptr,
                       SaveDurability durability = SaveDurability::Durable);

// Removes the temporaries that saves of `path` left behind, and only what is
// certainly one: entries of the target's folder named exactly as the writer
// names them (SaveTemporaryStem of the target's file name, ".orvane-save-",
// six letters or digits) that are regular files (not links), owned by this
// user, unchanged for `minimumAge` seconds and held locked by no process
// (the saving process died). A temporary of a save running in another
// process is locked and stays; nothing else is ever removed. For saves, not
// for loads: a load must not change the folder. The number removed, or -1
// when the folder cannot be read.
int RemoveStaleSaveTemporaries(const std::string& path, time_t minimumAge = kStaleTemporaryAge);

}  // namespace Platform
