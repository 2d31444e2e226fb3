// Runs the benchmarks of a program and then prints, for each pair named
// X_Ours and X_OpenSsl, OpenSSL's time divided by ours in the same run.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace sigwell_bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (!run.error_occurred) timePerIteration_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const
    {
        std::printf("\nOpenSSL's time / ours (above 1: ours faster)\n");
        for (const auto& [name, ours] : timePerIteration_) {
            const size_t cut = name.find("_Ours");
            if (cut == std::string::npos) continue;
            auto theirs = timePerIteration_.find(name.substr(0, cut) + "_OpenSsl" + name.substr(cut + 5));
            if (theirs == timePerIteration_.end() || ours <= 0) continue;
            std::printf("  %-14s %.2f\n", name.substr(0, cut).c_str(), theirs->second / ours);
        }
    }

private:
    std::map<std::string, double> timePerIteration_;
};

inline int RunWithRatios(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

} // namespace sigwell_bench
