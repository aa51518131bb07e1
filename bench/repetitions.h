#pragma once

// Both benchmarks report medians: three repetitions with only their statistics
// shown, unless the command line says otherwise.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

// Initialises Google Benchmark with those defaults, and `moreDefaults`
// ("--flag=value"), added to the command line where it does not give the flag,
// and returns what is left of the command line, program name first, behind a null.
inline std::vector<char*> initializeWithMedians(int argc, char** argv,
                                                std::initializer_list<const char*> moreDefaults = {}) {
    static std::vector<std::string> defaults;
    defaults = {"--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"};
    defaults.insert(defaults.end(), moreDefaults.begin(), moreDefaults.end());
    std::vector<char*> args(argv, argv + argc);
    auto given = [&](const std::string& flag) {
        return std::any_of(args.begin() + 1, args.end(),
                           [&](const char* a) { return std::strncmp(a, flag.c_str(), flag.size()) == 0; });
    };
    const bool aggregatesGiven = given("--benchmark_display_aggregates_only");
    for (std::string& flag : defaults) {
        const std::string name = flag.substr(0, flag.find('='));
        if (!given(name) && !(aggregatesGiven && name == "--benchmark_report_aggregates_only"))
            args.push_back(flag.data());
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    args.resize(static_cast<std::size_t>(count));
    args.push_back(nullptr);
    return args;
}
