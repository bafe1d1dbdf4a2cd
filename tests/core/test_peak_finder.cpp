#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "peak_finder.hpp"
#include "support.hpp"

namespace tavrik {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Expected {
    std::size_t start, end;
    double height;
};

struct PeakCase {
    std::string name;
    std::vector<double> y;
    std::optional<double> min_height;
    std::vector<Expected> peaks;  // in the order find_peaks returns them
};

class PeakTable : public ::testing::TestWithParam<PeakCase> {};

TEST_P(PeakTable, FindsTheListedPeaksInOrder) {
    const PeakCase& c = GetParam();
    PeakFinder finder(c.y);
    if (c.min_height) finder.set_min_height(*c.min_height);
    const std::vector<Peak> peaks = finder.find_peaks();
    ASSERT_EQ(peaks.size(), c.peaks.size());
    for (std::size_t k = 0; k < peaks.size(); ++k) {
        EXPECT_EQ(peaks[k].position.start, c.peaks[k].start) << "peak " << k;
        EXPECT_EQ(peaks[k].position.end, c.peaks[k].end) << "peak " << k;
        EXPECT_EQ(peaks[k].height, c.peaks[k].height) << "peak " << k;
        EXPECT_EQ(peaks[k].middle_position(), (c.peaks[k].start + c.peaks[k].end) / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scan, PeakTable,
    ::testing::Values(
        PeakCase{"single", {0, 1, 0}, {}, {{1, 2, 1}}},
        PeakCase{"plateau", {0, 1, 1, 1, 0}, {}, {{1, 4, 1}}},
        PeakCase{"flat_run_after_descent", {3, 2, 2, 2, 1}, {}, {{2, 4, 2}}},
        PeakCase{"first_sample_never_included", {1, 1, 0}, {}, {{1, 2, 1}}},
        PeakCase{"maximum_at_the_end", {0, 1, 2}, {}, {}},
        PeakCase{"maximum_at_the_start", {2, 1, 0}, {}, {}},
        PeakCase{"equal_heights_keep_scan_order", {0, 2, 1, 2, 0}, {}, {{1, 2, 2}, {3, 4, 2}}},
        PeakCase{"flat_step_on_a_rise", {1, 2, 2, 3, 0}, {}, {{3, 4, 3}}},
        PeakCase{"descending_height", {0, 3, 1, 5, 0, 4, 2}, {}, {{3, 4, 5}, {5, 6, 4}, {1, 2, 3}}},
        PeakCase{"nan_blocks_both_sides", {0, 1, nan, 1, 0}, {}, {}},
        PeakCase{"threshold_is_inclusive", {0, 1, 0, 2, 0, 0.5, 0}, 1.0, {{3, 4, 2}, {1, 2, 1}}},
        PeakCase{"two_values", {0, 1}, {}, {}},
        PeakCase{"empty", {}, {}, {}}),
    [](const ::testing::TestParamInfo<PeakCase>& p) { return p.param.name; });

TEST(PeakFinder, ReportsTheDifferencesAroundThePeak) {
    const std::vector<double> y{0.0, 0.25, 1.0, 0.5, 0.75};
    const std::vector<Peak> peaks = PeakFinder(y).find_peaks();
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].left_diff, 0.75);
    EXPECT_EQ(peaks[0].right_diff, 0.5);
}

TEST(PeakFinder, MinDifferenceRejectsShallowSteps) {
    const std::vector<double> y{0.0, 1.0, 0.9, 3.0, 0.0};
    PeakFinder finder(y);
    finder.set_min_difference(0.5);
    const std::vector<Peak> peaks = finder.find_peaks();
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].position, (PeakPosition{3, 4}));
}

TEST(PeakFinder, ManyPeaksAreSortedDescendingAndStable) {
    // 30 peaks with three distinct heights, laid out in a scrambled order.
    std::vector<double> y{0.0};
    for (int k = 0; k < 30; ++k) {
        y.push_back(1.0 + (k * 7) % 3);
        y.push_back(0.0);
    }
    const std::vector<Peak> peaks = PeakFinder(y).find_peaks();
    ASSERT_EQ(peaks.size(), 30u);
    for (std::size_t k = 1; k < peaks.size(); ++k) {
        ASSERT_GE(peaks[k - 1].height, peaks[k].height);
        if (peaks[k - 1].height == peaks[k].height) {
            EXPECT_LT(peaks[k - 1].position.start, peaks[k].position.start);
        }
    }
    EXPECT_EQ(peaks.front().height, 3.0);
    EXPECT_EQ(peaks.back().height, 1.0);
}

// The streaming scanner and the batch finder are two implementations of the
// same scan: on any data they must report the same peaks bit for bit.
using testdata::same_bits;

void expect_same_peaks(const std::vector<double>& y, PeakSettings settings) {
    PeakFinder finder(y);
    finder.set_min_difference(settings.min_difference);
    if (settings.min_height) finder.set_min_height(*settings.min_height);
    const std::vector<Peak> batch = finder.find_peaks();

    PeakScanner scanner(settings);
    std::vector<Peak> streamed;
    std::size_t last_end = 0;
    for (double v : y) {
        Peak p;
        if (scanner.feed(v, p)) {
            ASSERT_GE(p.position.start, last_end) << "streamed peaks must come in scan order";
            last_end = p.position.end;
            streamed.push_back(p);
        }
    }
    detail::sort_by_height(streamed);

    ASSERT_EQ(streamed.size(), batch.size());
    for (std::size_t k = 0; k < batch.size(); ++k) {
        EXPECT_EQ(streamed[k].position, batch[k].position);
        EXPECT_TRUE(same_bits(streamed[k].height, batch[k].height));
        EXPECT_TRUE(same_bits(streamed[k].left_diff, batch[k].left_diff));
        EXPECT_TRUE(same_bits(streamed[k].right_diff, batch[k].right_diff));
    }
}

TEST(PeakScanner, AgreesWithTheBatchFinderOnRandomData) {
    std::mt19937_64 rng(20240611);
    // Few distinct levels make plateaus common; NaN, the infinities and the two
    // zeros exercise the comparisons.
    const double levels[] = {0.0,  -0.0, 1.0, 1.0, 2.0, 2.0, 3.0, 0.5,
                             nan,  std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(levels) - 1);
    std::uniform_int_distribution<std::size_t> length(0, 60);
    std::uniform_real_distribution<double> noise(0.0, 1.0);
    const PeakSettings settings[] = {{0.0, std::nullopt}, {0.0, 1.0}, {0.5, std::nullopt}, {0.5, 2.0}};
    std::size_t peaks_seen = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<double> y(length(rng));
        const bool smooth = trial % 3 == 0;
        for (double& v : y) v = smooth ? noise(rng) : levels[pick(rng)];
        for (const PeakSettings& s : settings) {
            expect_same_peaks(y, s);
            peaks_seen += PeakFinder(y).find_peaks().size();
        }
        if (::testing::Test::HasFailure()) FAIL() << "trial " << trial;
    }
    EXPECT_GT(peaks_seen, 10000u);  // the data did contain peaks
}

TEST(PeakScanner, ResetStartsAFreshScan) {
    PeakScanner scanner(PeakSettings{0.0, 0.0});
    Peak p;
    for (double v : {0.0, 5.0}) EXPECT_FALSE(scanner.feed(v, p));
    scanner.reset();
    // After the reset 5.0 -> 1.0 is no longer a drop from a peak.
    int found = 0;
    for (double v : {1.0, 0.0, 2.0, 0.0}) found += scanner.feed(v, p) ? 1 : 0;
    ASSERT_EQ(found, 1);
    EXPECT_EQ(p.position, (PeakPosition{2, 3}));
    EXPECT_EQ(p.height, 2.0);
}

}  // namespace
}  // namespace tavrik
