// What the operator has done to each point while working through the check
// queue (unchecked, checked, edited), and the small file that keeps it beside
// the points file: POINTS.pts.check.csv. The points file itself is never
// touched.
//
// Sidecar file (text, one record per line):
//   # orvane-check 2 count=N minx=A maxx=B miny=C maxy=D records=H
//   record,status
//   17,checked
//   230,edited
// The first line names the points file it belongs to by its record count,
// the bounds of its header (min Y <= max Y; exact decimal forms of the
// doubles) and a checksum of its records (H: 16 hex digits of
// RecordsChecksum), so that a file re-ordered or re-written by another
// program with the same count and bounds does not take statuses that were
// made for other records. Version 1 (the same line without records=) is
// still read when count and bounds match; the next write makes it version 2.
// Records not listed are unchecked. A sidecar that does not match the
// points file (it was saved, compacted or replaced without it) is ignored.
// The file is written to a temporary file in the same folder and renamed
// over the old one, so it is always whole; and only while the points file
// is the one this program last loaded or saved (PointsFileIdentity), so
// that statuses are never written under another program's points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "TIN/Renumbering.h"
#include "TIN/TINPoints.h"

// CCheckStatuses::Save: the points file is not the one last loaded or saved.
constexpr int kSidecarPointsReplaced = -4;

enum class CheckState : uint8_t {
    Unchecked = 0,
    Checked = 1,  // looked at and left as it was
    Edited = 2,   // looked at and changed
};

// A points file as its header describes it: record count and x/y bounds
// (ground units; y bounds in order, as a reader stores them).
struct PointsFileKey {
    int count = 0;
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
    bool operator==(const PointsFileKey& o) const {
        return count == o.count && minX == o.minX && maxX == o.maxX && minY == o.minY &&
               maxY == o.maxY;
    }
};

// A points file as this program last loaded or saved it: the file system's
// identity of the file (device, inode), its size and modification time, and
// the checksum of its records. Another program that saves the same path
// replaces the file (a new inode) or at least its size or time.
struct PointsFileIdentity {
    bool known = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeSeconds = 0;
    int64_t mtimeNanoseconds = 0;
    uint64_t checksum = 0;  // RecordsChecksum of the file's records
    // Same file in the same state (the checksum follows from that).
    bool SameFile(const PointsFileIdentity& o) const {
        return known && o.known && device == o.device && inode == o.inode && size == o.size &&
               mtimeSeconds == o.mtimeSeconds && mtimeNanoseconds == o.mtimeNanoseconds;
    }
};

// The identity of the points file at `pointsPath` now, checksum included
// (which reads the whole file). 1; -1 it cannot be opened or read.
int ReadPointsFileIdentity(const std::string& pointsPath, PointsFileIdentity& identity);

// A 64-bit checksum of the bytes after the 52-byte header of a points file
// (the records), read from `file`'s position 52 on. Order matters: the same
// records in another order give another checksum. false when reading fails.
bool RecordsChecksum(FILE* file, uint64_t& checksum);

// Reads the 52-byte header of a points file. Results as CTINPoints::ReadPts
// for the header: 1; -1 the file cannot be opened or holds no records; -2 max
// X not greater than min X; -5 a negative count or a header cut short.
int ReadPointsFileKey(const std::string& pointsPath, PointsFileKey& key);

// New index of every record of `ground` when it is compacted: the running
// count of live records before it, or -1 for a deleted record (id < 0).
std::vector<int> CompactionMap(const CTINPoints& ground);

class CCheckStatuses {
public:
    CCheckStatuses() = default;
    explicit CCheckStatuses(int count) { Reset(count); }

    // count records, all unchecked (a negative count counts as 0).
    void Reset(int count);
    // Grows or shrinks to count records; appended ones are unchecked.
    void Resize(int count);
    int GetCount() const { return static_cast<int>(m_states.size()); }
    // Unchecked outside [0, count).
    CheckState Get(int index) const;
    // 1; -1 outside [0, count).
    int Set(int index, CheckState state);
    // How many records are in `state`.
    int CountOf(CheckState state) const;
    // Follows a renumbering of the records that keeps their order (a save's
    // compaction, or taking one back): old record i becomes record
    // renumbering.NewIndex(i), or is dropped when that is -1.
    // Indices the map skips are new records, unchecked; the count becomes
    // one past the last index named. 1; -1 (nothing changed) when the map's
    // length differs from the count or it names an index twice or out of order.
    int Remap(const CRenumbering& renumbering);

    // POINTS + ".check.csv".
    static std::string SidecarPath(const std::string& pointsPath);
    // Reads the sidecar of the points file. 1 read; 0 there is none (all
    // unchecked); -1 the points file's header cannot be read (ReadPointsFileKey;
    // statuses left as they were); -2 the sidecar belongs to another state of
    // the points file (count, bounds or, from version 2, the records'
    // checksum differ): ignored, all unchecked; -3 the sidecar cannot be read
    // or is not in the format above: ignored, all unchecked. Unless -1, the
    // count becomes the points file's. `identity` (optional) receives the
    // points file's identity as read (unknown after -1).
    int Load(const std::string& pointsPath, PointsFileIdentity* identity = nullptr);
    // Writes the sidecar (version 2) for the points file as it is on disk now
    // (call after saving the points): the first key.count records. With
    // `expected` known, only while the points file is still that one. 1; -1
    // the points file's header cannot be read; -2 fewer statuses than the
    // file has records; -3 the sidecar cannot be written (the old one, if
    // any, is left as it was); kSidecarPointsReplaced: the points file is no
    // longer `expected` (another program saved it): nothing written.
    int Save(const std::string& pointsPath, const PointsFileIdentity* expected = nullptr) const;

private:
    std::vector<CheckState> m_states;
};
