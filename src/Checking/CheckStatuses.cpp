// Check statuses and their sidecar file. See CheckStatuses.h.
#include "Checking/CheckStatuses.h"

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

constexpr const char* kMagic = "# orvane-check 1";
constexpr const char* kColumns = "record,status";

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

// One line without its end of line; false at the end of the file.
bool ReadLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
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

bool ParseHeader(const std::string& line, PointsFileKey& key) {
    if (line.rfind(kMagic, 0) != 0) return false;
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

}  // namespace

int ReadPointsFileKey(const std::string& pointsPath, PointsFileKey& key) {
    Platform::FilePtr file = Platform::OpenFile(pointsPath, "rb");
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

int CCheckStatuses::Remap(const std::vector<int>& newIndexOfOld) {
    if (newIndexOfOld.size() != m_states.size()) return -1;
    // Records keep their order: a save's compaction closes gaps, taking one
    // back opens them again for the records it puts back (unchecked).
    int next = 0;
    for (int to : newIndexOfOld) {
        if (to < 0) continue;
        if (to < next) return -1;
        next = to + 1;
    }
    std::vector<CheckState> kept(static_cast<size_t>(next), CheckState::Unchecked);
    for (size_t i = 0; i < newIndexOfOld.size(); ++i) {
        if (newIndexOfOld[i] >= 0) kept[newIndexOfOld[i]] = m_states[i];
    }
    m_states.swap(kept);
    return 1;
}

std::string CCheckStatuses::SidecarPath(const std::string& pointsPath) {
    return pointsPath + ".check.csv";
}

int CCheckStatuses::Load(const std::string& pointsPath) {
    PointsFileKey key;
    if (ReadPointsFileKey(pointsPath, key) < 0) return -1;
    Reset(key.count);
    const std::string path = SidecarPath(pointsPath);
    Platform::FilePtr file = Platform::OpenFile(path, "rb");
    if (!file) return errno == ENOENT ? 0 : -3;
    std::string line;
    PointsFileKey stated;
    if (!ReadLine(file.get(), line) || !ParseHeader(line, stated)) return -3;
    if (!(stated == key)) return -2;
    if (!ReadLine(file.get(), line) || line != kColumns) return -3;
    std::vector<CheckState> states(static_cast<size_t>(key.count), CheckState::Unchecked);
    while (ReadLine(file.get(), line)) {
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

int CCheckStatuses::Save(const std::string& pointsPath) const {
    PointsFileKey key;
    if (ReadPointsFileKey(pointsPath, key) < 0) return -1;
    if (GetCount() < key.count) return -2;
    const auto write = [&](FILE* file) {
        bool ok = std::fprintf(file, "%s count=%d minx=%.17g maxx=%.17g miny=%.17g maxy=%.17g\n",
                               kMagic, key.count, key.minX, key.maxX, key.minY, key.maxY) > 0;
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
