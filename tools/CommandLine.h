// One option of a tool's command line: "--name=value" is split at the '=';
// otherwise an option that takes a value takes the next argument.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

// The whole of `text` as a decimal integer in [lo, hi]; false (value
// unchanged) for anything else.
inline bool ParseInteger(const std::string& text, long lo, long hi, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    value = static_cast<int>(v);
    return true;
}

// The whole of `text` as a number (infinities allowed, NaN not).
inline bool ParseReal(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || std::isnan(v)) return false;
    value = v;
    return true;
}

class CCommandLineOption {
public:
    // The option at args[index].
    CCommandLineOption(const std::vector<std::string>& args, size_t& index)
        : m_args(args), m_index(index), name(args[index]) {
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            m_bInline = true;
        }
    }
    // Takes the option's value into `value`: the inline one, or the next
    // argument (then the caller's index moves past it). False when there is none.
    bool TakeValue() {
        if (m_bInline) return true;
        if (m_index + 1 >= m_args.size()) return false;
        value = m_args[++m_index];
        return true;
    }
    // The value came with the option ("--name=value").
    bool HasInlineValue() const { return m_bInline; }

private:
    const std::vector<std::string>& m_args;
    size_t& m_index;
    bool m_bInline = false;

public:
    std::string name;
    std::string value;
};
