// XYZ text: "x y z weight" a line, each number written in its shortest form
// that reads back to the same double (296.4, not 296.39999999999998), and
// read with an optional weight. Numbers are formatted and parsed with
// std::to_chars / std::from_chars, which never consult the process locale.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "Platform/FileHandle.h"
#include "PointIO/PointIOCommon.h"

using namespace pointio;

namespace {

// Longer lines are no XYZ text (its longest, four numbers of 24 characters
// and a comment, is far shorter).
constexpr long kMaxLineBytes = 4096;

inline bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\v' || c == '\f';
}

// Parses a whole token as a double; a leading '+' is allowed.
bool ParseNumber(const char* begin, const char* end, double* value) {
    if (begin < end && *begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, *value);
    return ec == std::errc() && ptr == end;
}

// The live points as "x y z weight" lines through a 1 MiB buffer; false when
// a write failed (errno says why).
bool WriteLines(FILE* file, const CTINPoints& points) {
    constexpr size_t kBuffer = 1 << 20;
    constexpr size_t kLineMax = 4 * 32;  // four numbers of at most 24 characters, blanks, newline
    std::vector<char> buffer(kBuffer);
    size_t used = 0;
    bool ok = true;
    errno = 0;
    ForEachLive(points, [&](const TINPoint& p) {
        if (!ok) return;
        char* out = buffer.data() + used;
        char* const end = buffer.data() + kBuffer;
        const double v[4] = {p.x, p.y, p.z, p.weight};
        for (int k = 0; k < 4; ++k) {
            out = std::to_chars(out, end, v[k]).ptr;  // shortest round trip
            *out++ = k < 3 ? ' ' : '\n';
        }
        used = static_cast<size_t>(out - buffer.data());
        if (kBuffer - used < kLineMax) {
            ok = std::fwrite(buffer.data(), 1, used, file) == used;
            used = 0;
        }
    });
    if (ok && used > 0) ok = std::fwrite(buffer.data(), 1, used, file) == used;
    return ok;
}

}  // namespace

int WriteXyz(const std::string& path, const CTINPoints& points) {
    const int64_t n = CountLive(points);
    if (n == 0) return WriteError(path, "there are no points", kPointsNone);
    const int rc = SaveAtomically(
        path, [&](FILE* file) { return WriteLines(file, points) ? 1 : WriteFailed(path); });
    return rc == 1 ? static_cast<int>(n) : rc;
}

int ReadXyz(const std::string& path, CTINPoints& points) {
    Platform::FilePtr file = Platform::OpenRegularFile(path, "rb");
    if (!file) return ReadError(path, OpenFailure(path), kPointsCannotOpen);
    const int64_t size = FileSize(file.get());
    if (size < 0) return ReadError(path, "not a regular file", kPointsCannotOpen);
    std::vector<char> text;
    std::vector<double> values;  // x, y, z, weight per point
    try {
        text.resize(static_cast<size_t>(size));
        values.reserve(static_cast<size_t>(size / 40 + 1) * 4);
    } catch (const std::bad_alloc&) {
        return ReadError(path, "out of memory", kPointsNoMemory);
    }
    if (size > 0 && std::fread(text.data(), 1, text.size(), file.get()) != text.size())
        return ReadError(path, std::strerror(errno ? errno : EIO), kPointsTruncated);
    file.reset();

    const char* p = text.data();
    const char* const end = p + text.size();
    // A UTF-8 byte-order mark, as some editors put before the first line.
    if (end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
    int64_t line = 0;
    auto refuse = [&](const std::string& why) {
        return ReadError(path, "line " + std::to_string(line) + ": " + why, kPointsBadText);
    };
    while (p < end) {
        ++line;
        const char* eol = std::find(p, end, '\n');
        if (eol - p > kMaxLineBytes)
            return refuse("longer than " + std::to_string(kMaxLineBytes) + " characters");
        const char* stop = std::find(p, eol, '#');  // a comment runs to the end of the line
        double v[4] = {0.0, 0.0, 0.0, 1.0};
        int fields = 0;
        // Numbers are separated either each by one comma (blanks around it
        // allowed) or each by blanks alone: a line that mixes the two
        // (a decimal comma, "5378000,25") or has two commas in a row (an
        // empty value) would shift its values into the wrong fields.
        int commaGaps = 0, blankGaps = 0;
        const char* q = p;
        while (true) {
            int commas = 0;
            while (q < stop && IsSeparator(*q)) commas += *q++ == ',';
            if (q == stop) break;  // separators after the last number say nothing
            if (fields == 0 && commas > 0) return refuse("a comma with no number before it");
            if (commas > 1) return refuse("two commas in a row (an empty value)");
            if (fields > 0) (commas == 1 ? commaGaps : blankGaps) += 1;
            if (commaGaps > 0 && blankGaps > 0)
                return refuse(
                    "some numbers are separated by a comma and some are not (a decimal comma?)");
            const char* t = q;
            while (q < stop && !IsSeparator(*q)) ++q;
            if (fields == 4) return refuse("more than four values (a line holds x y z [weight])");
            if (!ParseNumber(t, q, &v[fields])) {
                std::string why(1, '"');
                why.append(t, std::min<size_t>(static_cast<size_t>(q - t), 40));
                why += "\" is not a number";
                return refuse(why);
            }
            ++fields;
        }
        p = eol == end ? end : eol + 1;
        if (fields == 0) continue;  // blank or comment
        if (fields < 3)
            return refuse(std::to_string(fields) + " value(s); a line holds x y z [weight]");
        if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
            return refuse("x, y and z must be finite numbers");
        if (values.size() / 4 >= static_cast<size_t>(INT_MAX))
            return ReadError(path, "more than " + std::to_string(INT_MAX) + " points",
                             kPointsOutOfRange);
        try {
            values.insert(values.end(), v, v + 4);
        } catch (const std::bad_alloc&) {
            return ReadError(path, "out of memory", kPointsNoMemory);
        }
    }
    const int n = static_cast<int>(values.size() / 4);
    if (n == 0) return ReadError(path, "the file holds no points", kPointsNone);
    CTINPoints set;
    if (!MakeSet(n, set)) return ReadError(path, "out of memory", kPointsNoMemory);
    for (int i = 0; i < n; ++i) {
        TINPoint& r = set.m_pPoints[static_cast<size_t>(i)];
        const double* v = values.data() + 4 * static_cast<size_t>(i);
        r.x = v[0];
        r.y = v[1];
        r.z = v[2];
        r.weight = v[3];
    }
    return FinishImportedSet(path, set, points);
}
