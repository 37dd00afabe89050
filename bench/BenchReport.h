// Ratio summaries of the Google Benchmark programs: the medians of repeated
// benchmarks, the smallest times of two sides timed in the same iterations,
// and the lines that compare them with their limits.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

// "<what> <ratio>  (limit L: met)" (or NOT MET), the name padded to `width`;
// a limit <= 0 marks a ratio given for reference only: "(<note>)".
inline void PrintRatio(int width, const std::string& what, double ratio, double limit,
                       const char* note = "for reference") {
    if (limit <= 0.0) {
        std::printf("%-*s %6.3f  (%s)\n", width, what.c_str(), ratio, note);
        return;
    }
    std::printf("%-*s %6.3f  (limit %.2f: %s)\n", width, what.c_str(), ratio, limit,
                ratio <= limit ? "met" : "NOT MET");
}

// Console output (tabular when not on a terminal) that also keeps the
// median real time of each repeated benchmark, for ratios of two of them.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // `width`: the padding of the names in PrintRatio.
    explicit RatioReporter(int width)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular), m_width(width) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.aggregate_name == "median" && !r.error_occurred)
                m_median[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
    // The ratio of the medians of benchmarks `ours` and `base`, or "n/a" when
    // either did not run.
    void PrintRatio(const char* what, const std::string& ours, const std::string& base,
                    double limit, const char* note = "for reference") const {
        auto a = m_median.find(ours), b = m_median.find(base);
        if (a == m_median.end() || b == m_median.end()) {
            std::printf("%-*s n/a\n", m_width, what);
            return;
        }
        bench::PrintRatio(m_width, what, a->second / b->second, limit, note);
    }

private:
    int m_width;
    std::map<std::string, double> m_median;
};

// The smallest time of each of two sides timed in the same iterations: on a
// shared machine the smallest is the steadiest figure, and alternating the
// sides exposes both to the same load.
struct PairedMinima {
    double ours = 1e30, base = 1e30;  // seconds

    void Add(double oursSeconds, double baseSeconds) {
        ours = std::min(ours, oursSeconds);
        base = std::min(base, baseSeconds);
    }
    double Ratio() const { return ours / base; }
    // Counters <oursName>_min_ms, <baseName>_min_ms and ratio_of_min.
    void Report(benchmark::State& state, const std::string& oursName,
                const std::string& baseName) const {
        state.counters[oursName + "_min_ms"] = ours * 1e3;
        state.counters[baseName + "_min_ms"] = base * 1e3;
        state.counters["ratio_of_min"] = Ratio();
    }
};

}  // namespace bench
