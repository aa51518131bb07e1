#pragma once

// Both benchmarks report medians: three repetitions with only their statistics
// shown, unless the command line says otherwise.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

// Initialises Google Benchmark with those defaults added to the command line,
// and returns what is left of it, program name first, behind a null.
inline std::vector<char*> initializeWithMedians(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=3";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    std::vector<char*> args(argv, argv + argc);
    auto given = [&](const char* flag) {
        return std::any_of(args.begin() + 1, args.end(), [&](const char* a) { return std::strstr(a, flag) == a; });
    };
    if (!given("--benchmark_repetitions")) args.push_back(repetitions);
    if (!given("--benchmark_report_aggregates_only") && !given("--benchmark_display_aggregates_only"))
        args.push_back(aggregates);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    args.resize(static_cast<std::size_t>(count));
    args.push_back(nullptr);
    return args;
}
