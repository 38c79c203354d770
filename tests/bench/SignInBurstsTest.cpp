// The figures of a redraw after a sign-in or sign-out: a burst ends at the
// last key's last image, never at the first image of each key, and a key
// left undrawn shows as the limit instead of vanishing from the figures.

#include "SignInBursts.h"

#include <gtest/gtest.h>

#include "support/HostStandIn.h"

namespace {

using std::chrono::milliseconds;

TEST(SignInBurstsTest, ABurstEndsAtTheLastImageOfItsSlowestKey) {
    HostStandIn host;
    SignInBursts bursts(host, {"A", "B", "C"}, "B");
    const auto sent = std::chrono::steady_clock::now();
    // B is drawn twice (under "not supported", then without it): its second image counts.
    bursts.Record(sent, {{"B", sent + milliseconds(2)},
                         {"A", sent + milliseconds(3)},
                         {"C", sent + milliseconds(4)},
                         {"B", sent + milliseconds(9)}});
    EXPECT_EQ(bursts.Incomplete(), 0);
    EXPECT_DOUBLE_EQ(bursts.Burst().Max(), 9.0);
    EXPECT_DOUBLE_EQ(bursts.MeasuredKey().Max(), 2.0) << "the measured key's first image";
    ASSERT_EQ(bursts.PerKey().Count(), 3u);
    EXPECT_DOUBLE_EQ(bursts.PerKey().Percentile(0), 3.0);
    EXPECT_DOUBLE_EQ(bursts.PerKey().Median(), 4.0);
    EXPECT_DOUBLE_EQ(bursts.PerKey().Max(), 9.0);
}

TEST(SignInBurstsTest, AKeyLeftUndrawnCountsAsTheLimit) {
    HostStandIn host;
    SignInBursts bursts(host, {"A", "B", "C"}, "B");
    const auto sent = std::chrono::steady_clock::now();
    // Images of another key (a dial) do not make up for a missing one.
    bursts.Record(sent, {{"A", sent + milliseconds(1)}, {"C", sent + milliseconds(2)}});
    const double limit = static_cast<double>(SignInBursts::kLimit.count());
    EXPECT_EQ(bursts.Incomplete(), 1);
    EXPECT_DOUBLE_EQ(bursts.Burst().Max(), limit);
    EXPECT_DOUBLE_EQ(bursts.MeasuredKey().Max(), limit);
    EXPECT_DOUBLE_EQ(bursts.PerKey().Max(), limit);
    EXPECT_EQ(bursts.PerKey().Count(), 3u);
}

}  // namespace
