#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "bench/bench_input.h"

/// The console table (aggregates only when there are repetitions), followed per picture by
/// the rates of the converter, the I/O floor and the baseline, and the ratios
/// converter / floor and baseline / converter of their median wall times. The spread is
/// the range of the ratios of repetitions with the same number.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    explicit ratio_reporter(std::vector<bench_shape> shapes) : shapes_(std::move(shapes)) {}
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<bench_shape> shapes_;
    // Seconds per conversion by benchmark name, one entry per repetition.
    std::map<std::string, std::vector<double>> seconds_;
};

// What is measured; each is registered per picture as "<what>/<picture>".
inline constexpr const char* converter_bench = "converter";
inline constexpr const char* floor_bench = "io_floor";
inline constexpr const char* baseline_bench = "baseline";

/// The name a measurement of `what` on `shape` is registered under.
[[nodiscard]] std::string bench_name(const char* what, const bench_shape& shape);
