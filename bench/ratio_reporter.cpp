#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct ratio {
    double of_medians = 0;
    double lowest = 0;
    double highest = 0;
};

// Repetitions of the same number ran close together in time, so their ratio is one
// sample of what the noise does to the ratio.
ratio compare(const std::vector<double>& top, const std::vector<double>& bottom) {
    ratio r{median(top) / median(bottom), 0, 0};
    std::vector<double> paired;
    for (std::size_t i = 0; i < std::min(top.size(), bottom.size()); ++i) {
        if (top[i] > 0 && bottom[i] > 0) paired.push_back(top[i] / bottom[i]);
    }
    if (!paired.empty()) {
        r.lowest = *std::min_element(paired.begin(), paired.end());
        r.highest = *std::max_element(paired.begin(), paired.end());
    }
    return r;
}

}  // namespace

std::string bench_name(const char* what, const bench_shape& shape) {
    return std::string(what) + "/" + std::string(shape.name);
}

void ratio_reporter::ReportRuns(const std::vector<Run>& runs) {
    std::vector<Run> shown;
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
            auto& times = seconds_[run.run_name.function_name];
            const auto at = static_cast<std::size_t>(std::max<std::int64_t>(run.repetition_index, 0));
            if (times.size() <= at) times.resize(at + 1, 0.0);
            times[at] = run.real_accumulated_time / static_cast<double>(run.iterations);
        }
        if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) shown.push_back(run);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
}

void ratio_reporter::Finalize() {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    char line[320];
    out << "\nWall time per conversion, file to file; rates count bytes read plus bytes written.\n";
    for (const bench_shape& shape : shapes_) {
        const auto conv = seconds_.find(bench_name(converter_bench, shape));
        const auto io = seconds_.find(bench_name(floor_bench, shape));
        const auto base = seconds_.find(bench_name(baseline_bench, shape));
        if (conv == seconds_.end() || io == seconds_.end() || base == seconds_.end()) continue;

        const double moved = static_cast<double>(input_bytes(shape) + bitmap_bytes(shape));
        const auto name = std::string(shape.name);
        std::snprintf(line, sizeof line, "%-5s %zu repetitions: converter %.1f ms %.0f MB/s, I/O floor %.1f ms %.0f MB/s, "
                     "baseline %.1f ms %.0f MB/s\n",
                     name.c_str(), conv->second.size(), 1e3 * median(conv->second),
                     moved / median(conv->second) / 1e6, 1e3 * median(io->second),
                     moved / median(io->second) / 1e6, 1e3 * median(base->second),
                     moved / median(base->second) / 1e6);
        out << line;
        const ratio over_floor = compare(conv->second, io->second);
        const ratio over_converter = compare(base->second, conv->second);
        std::snprintf(line, sizeof line, "%-5s converter/floor %.3f (repetitions %.3f .. %.3f), "
                     "baseline/converter %.2f (repetitions %.2f .. %.2f)\n",
                     name.c_str(), over_floor.of_medians, over_floor.lowest, over_floor.highest,
                     over_converter.of_medians, over_converter.lowest, over_converter.highest);
        out << line;
    }
    out.flush();
}
