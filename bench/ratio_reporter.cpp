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
        const double moved = static_cast<double>(input_bytes(shape) + bitmap_bytes(shape));
        const auto name = std::string(shape.name);
        const std::vector<double>* conv = nullptr;
        const std::vector<double>* io = nullptr;
        const std::vector<double>* base = nullptr;
        const struct {
            const char* what;
            const char* label;
            const std::vector<double>** times;
        } contenders[] = {{converter_bench, "converter", &conv},
                          {floor_bench, "I/O floor", &io},
                          {baseline_bench, "baseline", &base}};
        for (const auto& c : contenders) {
            const auto found = seconds_.find(bench_name(c.what, shape));
            if (found == seconds_.end()) continue;
            *c.times = &found->second;
            const double seconds = median(found->second);
            std::snprintf(line, sizeof line, "%-5s %-9s median of %2zu: %7.1f ms, %5.0f MiB/s\n",
                          name.c_str(), c.label, found->second.size(), 1e3 * seconds,
                          moved / seconds / (1024.0 * 1024.0));
            out << line;
        }
        if (conv && io) {
            const ratio r = compare(*conv, *io);
            std::snprintf(line, sizeof line, "%-5s converter/floor    %.3f (repetitions %.3f .. %.3f)\n",
                          name.c_str(), r.of_medians, r.lowest, r.highest);
            out << line;
        }
        if (base && conv) {
            const ratio r = compare(*base, *conv);
            std::snprintf(line, sizeof line, "%-5s baseline/converter %.3f (repetitions %.3f .. %.3f)\n",
                          name.c_str(), r.of_medians, r.lowest, r.highest);
            out << line;
        }
    }
    out.flush();
}
