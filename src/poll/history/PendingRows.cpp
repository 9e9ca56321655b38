#include "poll/history/PendingRows.h"

#include <algorithm>
#include <iterator>

namespace {

template <typename Row>
void PrependTo(std::deque<Row>& rows, std::deque<Row>&& older) {
    if (rows.empty()) {
        rows = std::move(older);
        return;
    }
    rows.insert(rows.begin(), std::make_move_iterator(older.begin()),
                std::make_move_iterator(older.end()));
}

template <typename Row>
size_t DropOldest(std::deque<Row>& rows, size_t wanted) {
    const size_t n = std::min(wanted, rows.size());
    rows.erase(rows.begin(), rows.begin() + ptrdiff_t(n));
    return n;
}

}  // namespace

void PendingRows::PutInFront(PendingRows&& older) {
    PrependTo(minutes, std::move(older.minutes));
    PrependTo(raw, std::move(older.raw));
    PrependTo(demands, std::move(older.demands));
}

uint64_t PendingRows::Trim(size_t limit) {
    if (size() <= limit) return 0;
    size_t excess = size() - limit;
    const size_t before = excess;
    excess -= DropOldest(raw, excess);
    excess -= DropOldest(minutes, excess);
    excess -= DropOldest(demands, excess);
    return before - excess;
}
