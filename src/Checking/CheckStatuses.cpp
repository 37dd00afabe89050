// Check statuses and their sidecar file. See CheckStatuses.h.
#include "Checking/CheckStatuses.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform/AtomicFile.h"
#include "Platform/FileHandle.h"

namespace {

constexpr const char* kMagic = "# orvane-check ";  // then the version
constexpr int kVersion = 2;                        // the one written
constexpr const char* kColumns = "record,status";
// Longer lines are no sidecar's (its longest, the first, has about 150 bytes).
constexpr size_t kMaxLine = 4096;
constexpr size_t kHeaderBytes = 52;  // of a points file

const char* StateName(CheckState s) {
    switch (s) {
        case CheckState::Checked:
            return "checked";
        case CheckState::Edited:
            return "edited";
        default:
            return "unchecked";
    }
}

bool ParseState(const std::string& word, CheckState& s) {
    if (word == "unchecked") {
        s = CheckState::Unchecked;
    } else if (word == "checked") {
        s = CheckState::Checked;
    } else if (word == "edited") {
        s = CheckState::Edited;
    } else {
        return false;
    }
    return true;
}

// One line without its end of line: 1; 0 at the end of the file; -1 a line
// longer than kMaxLine (the file is no sidecar).
int ReadLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') {
        if (line.size() >= kMaxLine) return -1;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty() ? 1 : 0;
}

// The value of "name=" in the header line, which must be a finite number.
bool HeaderValue(const std::string& line, const char* name, double& value) {
    const std::string key = std::string(" ") + name + "=";
    const size_t at = line.find(key);
    if (at == std::string::npos) return false;
    const char* text = line.c_str() + at + key.size();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end != text && errno == 0 && std::isfinite(value) && (*end == ' ' || *end == '\0');
}

// "records=" and 16 hex digits.
bool HeaderChecksum(const std::string& line, uint64_t& checksum) {
    const std::string key = " records=";
    const size_t at = line.find(key);
    if (at == std::string::npos) return false;
    const std::string digits = line.substr(at + key.size(), 16);
    if (digits.size() != 16 || digits.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    const size_t end = at + key.size() + 16;
    if (end < line.size() && line[end] != ' ') return false;
    checksum = std::strtoull(digits.c_str(), nullptr, 16);
    return true;
}

// The first line of a sidecar: its version (1 or 2), the points file's key
// and, from version 2, the records' checksum.
bool ParseHeader(const std::string& line, int& version, PointsFileKey& key, uint64_t& checksum) {
    const size_t magic = std::strlen(kMagic);
    if (line.rfind(kMagic, 0) != 0 || line.size() < magic + 2 || line[magic + 1] != ' ')
        return false;
    version = line[magic] - '0';
    if (version != 1 && version != 2) return false;
    if (version == 2 && !HeaderChecksum(line, checksum)) return false;
    double count = 0.0;
    if (!HeaderValue(line, "count", count) || count < 0.0 || count > INT32_MAX ||
        count != std::floor(count)) {
        return false;
    }
    key.count = static_cast<int>(count);
    return HeaderValue(line, "minx", key.minX) && HeaderValue(line, "maxx", key.maxX) &&
           HeaderValue(line, "miny", key.minY) && HeaderValue(line, "maxy", key.maxY);
}

// "index,word" with index in [0, count).
bool ParseRow(const std::string& line, int count, int& index, CheckState& state) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos || comma == 0) return false;
    const std::string number = line.substr(0, comma);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(number.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0 || v >= count) return false;
    index = static_cast<int>(v);
    return ParseState(line.substr(comma + 1), state);
}

// Device, inode, size and modification time of a file (no checksum).
PointsFileIdentity IdentityOf(const struct stat& info) {
    PointsFileIdentity identity;
    identity.known = true;
    identity.device = static_cast<uint64_t>(info.st_dev);
    identity.inode = static_cast<uint64_t>(info.st_ino);
    identity.size = static_cast<int64_t>(info.st_size);
    identity.mtimeSeconds = static_cast<int64_t>(info.st_mtim.tv_sec);
    identity.mtimeNanoseconds = static_cast<int64_t>(info.st_mtim.tv_nsec);
    return identity;
}

// Identity without the checksum (stat of the file the path names now).
bool StatPointsFile(const std::string& pointsPath, PointsFileIdentity& identity) {
    struct stat info {};
    if (stat(pointsPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    identity = IdentityOf(info);
    return true;
}

}  // namespace

bool RecordsChecksum(FILE* file, uint64_t& checksum) {
    // 64-bit words, each mixed in after the ones before (FNV-1a's prime, with
    // a fold of the high half, which makes the order count), then a final
    // avalanche; the length goes in so that trailing zero bytes count.
    uint64_t h = 0xcbf29ce484222325ull;
    uint64_t length = 0;
    std::vector<unsigned char> buffer(size_t(1) << 20);
    size_t filled = 0;
    for (;;) {
        const size_t got = std::fread(buffer.data() + filled, 1, buffer.size() - filled, file);
        filled += got;
        const bool end = got == 0;
        const size_t words = filled / 8;
        for (size_t k = 0; k < words; ++k) {
            uint64_t w = 0;
            std::memcpy(&w, buffer.data() + 8 * k, 8);
            h = (h ^ w) * 0x100000001b3ull;
            h ^= h >> 32;
        }
        length += 8 * words;
        std::memmove(buffer.data(), buffer.data() + 8 * words, filled - 8 * words);
        filled -= 8 * words;
        if (end) break;
    }
    if (std::ferror(file)) return false;
    for (size_t k = 0; k < filled; ++k) h = (h ^ buffer[k]) * 0x100000001b3ull;
    length += filled;
    h ^= length;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    checksum = h;
    return true;
}

int ReadPointsFileIdentity(const std::string& pointsPath, PointsFileIdentity& identity) {
    identity = PointsFileIdentity();
    Platform::FilePtr file = Platform::OpenRegularFile(pointsPath, "rb");
    if (!file) return -1;
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    PointsFileIdentity read = IdentityOf(info);
    if (read.size < static_cast<int64_t>(kHeaderBytes) ||
        fseeko(file.get(), static_cast<off_t>(kHeaderBytes), SEEK_SET) != 0 ||
        !RecordsChecksum(file.get(), read.checksum)) {
        return -1;
    }
    identity = read;
    return 1;
}

int ReadPointsFileKey(const std::string& pointsPath, PointsFileKey& key) {
    Platform::FilePtr file = Platform::OpenRegularFile(pointsPath, "rb");
    if (!file) return -1;
    unsigned char header[52];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) return -5;
    int32_t count = 0;
    double bounds[4];  // min X, max Y, max X, min Y
    std::memcpy(&count, header, 4);
    std::memcpy(bounds, header + 4, sizeof bounds);
    if (count < 0) return -5;
    if (count == 0) return -1;
    if (!(bounds[2] > bounds[0])) return -2;
    // The statuses are sized by the count: it must fit the file (32 bytes a record).
    const int64_t available = Platform::BytesRemaining(file.get());
    if (available < 0 || int64_t(count) * 32 > available) return -5;
    key.count = count;
    key.minX = bounds[0];
    key.maxX = bounds[2];
    key.minY = std::min(bounds[3], bounds[1]);
    key.maxY = std::max(bounds[3], bounds[1]);
    return 1;
}

std::vector<int> CompactionMap(const CTINPoints& ground) {
    std::vector<int> map(static_cast<size_t>(ground.GetCount()), -1);
    int next = 0;
    for (int i = 0; i < ground.GetCount(); ++i) {
        if (ground.GetPoint(i)->id >= 0) map[i] = next++;
    }
    return map;
}

void CCheckStatuses::Reset(int count) {
    m_states.assign(static_cast<size_t>(std::max(count, 0)), CheckState::Unchecked);
}

void CCheckStatuses::Resize(int count) {
    m_states.resize(static_cast<size_t>(std::max(count, 0)), CheckState::Unchecked);
}

CheckState CCheckStatuses::Get(int index) const {
    return index >= 0 && index < GetCount() ? m_states[index] : CheckState::Unchecked;
}

int CCheckStatuses::Set(int index, CheckState state) {
    if (index < 0 || index >= GetCount()) return -1;
    m_states[index] = state;
    return 1;
}

int CCheckStatuses::CountOf(CheckState state) const {
    return static_cast<int>(std::count(m_states.begin(), m_states.end(), state));
}

int CCheckStatuses::Remap(const CRenumbering& renumbering) {
    if (renumbering.OldCount() != static_cast<int>(m_states.size())) return -1;
    // Records keep their order: a save's compaction closes gaps, taking one
    // back opens them again for the records it puts back (unchecked).
    int next = 0;
    for (int to : renumbering.NewIndexOfOld()) {
        if (to < 0) continue;
        if (to < next) return -1;
        next = to + 1;
    }
    std::vector<CheckState> kept(static_cast<size_t>(next), CheckState::Unchecked);
    for (int i = 0; i < renumbering.OldCount(); ++i) {
        if (const int to = renumbering.NewIndex(i); to >= 0)
            kept[static_cast<size_t>(to)] = m_states[static_cast<size_t>(i)];
    }
    m_states.swap(kept);
    return 1;
}

std::string CCheckStatuses::SidecarPath(const std::string& pointsPath) {
    return pointsPath + ".check.csv";
}

int CCheckStatuses::Load(const std::string& pointsPath, PointsFileIdentity* identity) {
    if (identity) *identity = PointsFileIdentity();
    PointsFileKey key;
    if (ReadPointsFileKey(pointsPath, key) < 0) return -1;
    Reset(key.count);
    PointsFileIdentity points;
    if (identity) {
        ReadPointsFileIdentity(pointsPath, points);
        *identity = points;
    }
    const std::string path = SidecarPath(pointsPath);
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) return errno == ENOENT ? 0 : -3;
    std::string line;
    PointsFileKey stated;
    int version = 0;
    uint64_t checksum = 0;
    if (ReadLine(file.get(), line) != 1 || !ParseHeader(line, version, stated, checksum)) return -3;
    if (!(stated == key)) return -2;
    if (version >= 2) {
        if (!points.known && ReadPointsFileIdentity(pointsPath, points) < 0) return -2;
        if (points.checksum != checksum) return -2;
    }
    if (ReadLine(file.get(), line) != 1 || line != kColumns) return -3;
    std::vector<CheckState> states(static_cast<size_t>(key.count), CheckState::Unchecked);
    for (int got; (got = ReadLine(file.get(), line)) != 0;) {
        if (got < 0) return -3;
        if (line.empty()) continue;
        int index = 0;
        CheckState state = CheckState::Unchecked;
        if (!ParseRow(line, key.count, index, state)) return -3;
        states[index] = state;
    }
    if (std::ferror(file.get())) return -3;
    m_states.swap(states);
    return 1;
}

int CCheckStatuses::Save(const std::string& pointsPath, const PointsFileIdentity* expected) const {
    // The records' checksum: that of the file as this program knows it, while
    // it is still that file; otherwise read from the file now.
    PointsFileIdentity points;
    if (expected && expected->known) {
        if (!StatPointsFile(pointsPath, points) || !points.SameFile(*expected))
            return kSidecarPointsReplaced;
        points.checksum = expected->checksum;
    } else if (ReadPointsFileIdentity(pointsPath, points) < 0) {
        return -1;
    }
    PointsFileKey key;
    if (ReadPointsFileKey(pointsPath, key) < 0) return -1;
    if (GetCount() < key.count) return -2;
    const auto write = [&](FILE* file) {
        bool ok = std::fprintf(file,
                               "%s%d count=%d minx=%.17g maxx=%.17g miny=%.17g maxy=%.17g "
                               "records=%016" PRIx64 "\n",
                               kMagic, kVersion, key.count, key.minX, key.maxX, key.minY, key.maxY,
                               points.checksum) > 0;
        ok = ok && std::fprintf(file, "%s\n", kColumns) > 0;
        for (int i = 0; ok && i < key.count; ++i) {
            if (m_states[i] != CheckState::Unchecked) {
                ok = std::fprintf(file, "%d,%s\n", i, StateName(m_states[i])) > 0;
            }
        }
        return ok;
    };
    return Platform::SaveFileAtomically(SidecarPath(pointsPath), write) == 1 ? 1 : -3;
}
