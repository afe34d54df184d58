#pragma once

// Ratios between benchmarks measured in interleaved rounds: every benchmark runs once per
// round (in a shuffled order), and each round's ratio compares the two sides measured close
// together in time, so load that other programs put on a shared machine hits both alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorlund::bench {

class RoundRatioReporter : public benchmark::ConsoleReporter
{
public:
    // `baseline` names the benchmark a run is compared with, or "" for none.
    explicit RoundRatioReporter(std::function<std::string(const std::string &)> baseline,
                                bool cpuTime = false)
        : benchmark::ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_None),
          m_baseline(std::move(baseline)), m_cpu(cpuTime)
    { }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                std::string name = r.benchmark_name();
                if (const auto p = name.find("/repeats:"); p != std::string::npos)
                    name.erase(p);
                m_rounds[name].push_back(m_cpu ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime());
            }
        ConsoleReporter::ReportRuns(runs);
    }

    static double Median(std::vector<double> v)
    {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    // Prints each compared benchmark's ratio per round and their median; returns the medians.
    std::map<std::string, double> PrintRatios(const char *title) const
    {
        std::map<std::string, double> medians;
        std::printf("\n%s (%s time; ratio per round, then the median):\n", title,
                    m_cpu ? "CPU" : "wall");
        for (const auto &[name, times] : m_rounds) {
            const std::string base = m_baseline(name);
            const auto b = m_rounds.find(base);
            if (base.empty() || b == m_rounds.end())
                continue;
            std::vector<double> ratios;
            for (size_t i = 0; i < times.size() && i < b->second.size(); ++i)
                if (b->second[i] > 0)
                    ratios.push_back(times[i] / b->second[i]);
            std::printf("  %-34s", name.c_str());
            for (double r : ratios)
                std::printf(" %.2f", r);
            medians[name] = Median(ratios);
            std::printf("  | median %.2fx\n", medians[name]);
        }
        return medians;
    }

    const std::map<std::string, std::vector<double>> &Rounds() const { return m_rounds; }

private:
    std::function<std::string(const std::string &)> m_baseline;
    bool m_cpu;
    std::map<std::string, std::vector<double>> m_rounds;
};

// Adds the flags for interleaved rounds unless the command line chose its own.
inline std::vector<char *> WithRounds(int argc, char **argv, int rounds)
{
    static std::string reps;
    static std::string interleave = "--benchmark_enable_random_interleaving=true";
    static std::string aggregates = "--benchmark_report_aggregates_only=false";
    reps = "--benchmark_repetitions=" + std::to_string(rounds);
    std::vector<char *> args(argv, argv + argc);
    bool hasReps = false;
    for (int i = 1; i < argc; ++i)
        hasReps = hasReps || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    if (!hasReps) {
        args.push_back(reps.data());
        args.push_back(interleave.data());
        args.push_back(aggregates.data());
    }
    args.push_back(nullptr);
    return args;
}

} // namespace vorlund::bench
