#include "diagnose/Hold.h"

#include <algorithm>

namespace {

bool IsEvent(const Finding& f) {
    return f.code == "energy-backwards";
}

}  // namespace

bool FindingHold::Update(int64_t unixMs, const std::vector<Finding>& seen) {
    bool changed = false;
    std::vector<bool> present(m_tracks.size(), false);
    for (const Finding& f : seen) {
        const std::string key = FindingKey(f);
        auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                               [&](const Track& t) { return FindingKey(t.latest) == key; });
        if (it == m_tracks.end()) {
            m_tracks.push_back({f, unixMs, 0, false});
            present.push_back(true);
            it = m_tracks.end() - 1;
        } else {
            const size_t k = it - m_tracks.begin();
            if (present[k]) continue;  // the same finding twice in one reading
            present[k] = true;
            changed = changed || (it->standing && it->latest.severity != f.severity);
            it->latest = f, it->absentSince = 0;
        }
        if (!it->standing && (IsEvent(f) || unixMs - it->since >= m_windowMs))
            it->standing = changed = true;
    }
    std::vector<Track> kept;
    for (size_t k = 0; k < m_tracks.size(); ++k) {
        Track& t = m_tracks[k];
        if (!present[k] && !t.absentSince) t.absentSince = unixMs;
        const bool gone = !present[k] && (!t.standing || unixMs - t.absentSince >= m_windowMs);
        if (gone) {
            changed = changed || t.standing;
            continue;
        }
        kept.push_back(std::move(t));
    }
    m_tracks = std::move(kept);
    return changed;
}

std::vector<Finding> FindingHold::Standing() const {
    std::vector<Finding> out;
    for (const Track& t : m_tracks)
        if (t.standing) {
            out.push_back(t.latest);
            out.back().sinceUnixMs = t.since;
        }
    return out;
}
