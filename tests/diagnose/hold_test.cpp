// A finding stands once it has held for a whole window and clears once absent for one; a
// counter that steps back is never published, and one that stays back is a reset.
#include <gtest/gtest.h>

#include <cmath>

#include "diagnose/EnergyGuard.h"
#include "diagnose/Hold.h"

namespace {

Finding Named(const char* code, const char* phase = "a") {
    return {code, Severity::Fault, {phase}, {}, "", 0};
}

// At each time (seconds) the reading shows the finding or not; what stands after it.
struct Step {
    int64_t s;
    bool seen;
    bool standing;
};

TEST(FindingHold, StandsAfterAWholeWindowAndClearsAfterOne) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"held 10 s", {{0, true, false}, {5, true, false}, {10, true, true}}},
        {"a gap starts the run again",
         {{0, true, false},
          {5, false, false},
          {6, true, false},
          {15, true, false},
          {16, true, true}}},
        {"a short absence does not clear",
         {{0, true, false},
          {10, true, true},
          {12, false, true},
          {15, true, true},
          {16, false, true},
          {25, false, true},
          {26, false, false}}},
        {"coming and going every 2 s never stands",
         {{0, true, false},
          {2, false, false},
          {4, true, false},
          {6, false, false},
          {8, true, false},
          {10, false, false},
          {12, true, false}}},
    };
    for (const Case& c : cases) {
        FindingHold hold(10000);
        for (const Step& st : c.steps) {
            hold.Update(st.s * 1000, st.seen ? std::vector<Finding>{Named("ct-reversed")}
                                             : std::vector<Finding>{});
            EXPECT_EQ(hold.Standing().size(), st.standing ? 1u : 0u)
                << c.name << " at " << st.s << " s";
        }
    }
}

TEST(FindingHold, SaysWhenWhatStandsChangesAndKeepsTheStart) {
    FindingHold hold(10000);
    EXPECT_FALSE(hold.Update(0, {Named("ct-reversed", "b")}));
    EXPECT_TRUE(hold.Update(10000, {Named("ct-reversed", "b")}));
    EXPECT_FALSE(hold.Update(11000, {Named("ct-reversed", "b")}));
    // Another phase is another finding; a step of a counter stands at once.
    EXPECT_TRUE(hold.Update(12000, {Named("ct-reversed", "b"), Named("energy-backwards", "")}));
    const auto standing = hold.Standing();
    ASSERT_EQ(standing.size(), 2u);
    EXPECT_EQ(standing[0].sinceUnixMs, 0);
    EXPECT_EQ(standing[1].code, "energy-backwards");
    Finding worse = Named("ct-reversed", "b");
    worse.severity = Severity::Warning;
    EXPECT_TRUE(hold.Update(13000, {worse}));
}

TEST(EnergyGuard, HoldsAStepBackAndTakesAPersistentOneAsAReset) {
    struct Case {
        const char* name;
        std::vector<double> read, published;
        uint64_t held, resets;
    } cases[] = {
        {"rising", {1000, 1010, 1020}, {1000, 1010, 1020}, 0, 0},
        {"one step back", {1000, 1010, 1005, 1020}, {1000, 1010, 1010, 1020}, 1, 0},
        {"back for two readings",
         {1000, 1010, 500, 501, 1011},
         {1000, 1010, 1010, 1010, 1011},
         2,
         0},
        {"back for three: a reset",
         {1000, 1010, 500, 501, 502, 503},
         {1000, 1010, 1010, 1010, 502, 503},
         2,
         1},
        {"not known, then known", {NAN, 1000, 999}, {NAN, 1000, 1000}, 1, 0},
    };
    const int forward = QuantityIndex("active_energy_forward");
    for (const Case& c : cases) {
        EnergyGuard guard;
        for (size_t k = 0; k < c.read.size(); ++k) {
            MeasurementValues v{};
            v[forward] = c.read[k];
            guard.Apply(v);
            if (std::isnan(c.published[k]))
                EXPECT_TRUE(std::isnan(v[forward])) << c.name << " reading " << k;
            else
                EXPECT_EQ(v[forward], c.published[k]) << c.name << " reading " << k;
        }
        EXPECT_EQ(guard.Held(), c.held) << c.name;
        EXPECT_EQ(guard.Resets(), c.resets) << c.name;
    }
}

}  // namespace
