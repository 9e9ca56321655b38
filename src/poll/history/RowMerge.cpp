#include "poll/history/RowMerge.h"

#include <algorithm>
#include <cmath>

namespace {

struct MeanSum {
    double sum = 0;
    int64_t weight = 0;
};

}  // namespace

int64_t StepStart(int64_t ms, int32_t stepS) {
    const int64_t stepMs = int64_t(stepS) * 1000;
    int64_t start = ms / stepMs * stepMs;
    if (start > ms) start -= stepMs;
    return start;
}

MinuteRow CombineRows(const std::vector<MinuteRow>& rows, int64_t startMs, int32_t stepS) {
    if (rows.size() == 1) {  // as it is: a mean times its count over its count may not be exact
        MinuteRow out = rows.front();
        out.startMs = startMs;
        out.stepS = stepS;
        return out;
    }
    MinuteRow out;
    out.startMs = startMs;
    out.stepS = stepS;
    out.min.fill(NAN);
    out.mean.fill(NAN);
    out.max.fill(NAN);
    out.last.fill(NAN);
    std::array<MeanSum, kQuantityCount> means{};
    for (const MinuteRow& row : rows) {
        out.address = row.address;
        out.count += row.count;
        for (int q = 0; q < kQuantityCount; ++q) {
            out.min[q] = std::fmin(out.min[q], row.min[q]);  // fmin passes NaN over
            out.max[q] = std::fmax(out.max[q], row.max[q]);
            if (!std::isnan(row.last[q])) out.last[q] = row.last[q];
            if (!std::isnan(row.mean[q]) && row.count > 0) {
                means[q].sum += row.mean[q] * row.count;
                means[q].weight += row.count;
            }
        }
    }
    for (int q = 0; q < kQuantityCount; ++q)
        if (means[q].weight > 0) out.mean[q] = means[q].sum / double(means[q].weight);
    return out;
}

std::vector<MinuteRow> AggregateRows(const std::vector<MinuteRow>& rows, int32_t stepS) {
    std::vector<MinuteRow> out;
    std::vector<MinuteRow> group;
    int64_t groupStart = 0;
    int32_t groupStep = 0;
    auto close = [&] {
        if (!group.empty()) out.push_back(CombineRows(group, groupStart, groupStep));
        group.clear();
    };
    for (const MinuteRow& row : rows) {
        const int32_t step = std::max(stepS, row.stepS);
        const int64_t start = StepStart(row.startMs, step);
        if (start != groupStart || step != groupStep) close();
        groupStart = start;
        groupStep = step;
        group.push_back(row);
    }
    close();
    return out;
}
