// The sampling grid across the stack and the index profile built on it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "fault.hpp"
#include "multilayer.hpp"
#include "support.hpp"

namespace {

using tavrik::Layer;
using Bounds = std::vector<std::size_t>;
using Doubles = std::vector<double>;
using tavrik::testdata::fault_of;
using tavrik::testdata::stack;

TEST(Grid, TwoLayersSplitAtTheOrigin) {
    const auto m = stack({{1.5, 1.0}, {2.0, 1.0}}, 0.5);
    const auto grid = tavrik::get_grid_data(m);
    EXPECT_EQ(grid.x, (Doubles{-1.0, -0.5, 0.0, 0.5}));
    EXPECT_EQ(grid.interfaces, (Doubles{0.0, 0.0, 1.0}));
    // x = 0.0 lies on the interface and belongs to the layer above it.
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 2, 4}));
    const auto profile = tavrik::index_profile(m);
    EXPECT_EQ(profile.x, grid.x);
    EXPECT_EQ(profile.n, (Doubles{1.5, 1.5, 2.0, 2.0}));
}

TEST(Grid, SampleOnAnInnerInterfaceBelongsToTheLayerAbove) {
    const auto m = stack({{1.0, 1.0}, {3.0, 0.5}, {1.5, 1.0}}, 0.25);
    const auto grid = tavrik::get_grid_data(m);
    ASSERT_EQ(grid.x.size(), 10u);
    EXPECT_EQ(grid.x[6], 0.5);
    EXPECT_EQ(grid.interfaces, (Doubles{0.0, 0.0, 0.5, 1.5}));
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 4, 6, 10}));
}

TEST(Grid, SingleLayer) {
    const auto m = stack({{1.7, 1.0}}, 0.25);
    const auto grid = tavrik::get_grid_data(m);
    EXPECT_EQ(grid.x, (Doubles{-1.0, -0.75, -0.5, -0.25}));
    EXPECT_EQ(grid.interfaces, (Doubles{0.0, 0.0}));
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 4}));
    EXPECT_EQ(tavrik::index_profile(m).n, (Doubles{1.7, 1.7, 1.7, 1.7}));
}

// A negative step larger than the stack rounds the count up to -0: no samples.
// Every layer then owns an empty segment, so the profile is empty, not a fault.
TEST(Grid, NegativeStepGivesAnEmptyGrid) {
    for (const auto& layers : {std::vector<Layer>{{1.5, 1.0}},
                               std::vector<Layer>{{1.5, 1.0}, {2.0, 1.0}, {1.0, 0.5}}}) {
        const auto m = stack(layers, -5.0);
        const auto grid = tavrik::get_grid_data(m);
        EXPECT_TRUE(grid.x.empty());
        EXPECT_EQ(grid.layer_bounds, Bounds(layers.size() + 1, 0));
        const auto profile = tavrik::index_profile(m);
        EXPECT_TRUE(profile.x.empty());
        EXPECT_TRUE(profile.n.empty());
    }
}

// Layers 1 and 2 (0.04 each) lie between the samples x = -0.15 and x = 0.1: that
// sample passes three interfaces at once and belongs to layer 3; the two thin
// layers own empty segments.
TEST(Grid, SampleBeyondSeveralInterfacesPassesAllOfThem) {
    const auto m = stack({{1.0, 0.9}, {3.0, 0.04}, {2.5, 0.04}, {1.5, 1.0}}, 0.25);
    const auto grid = tavrik::get_grid_data(m);
    ASSERT_EQ(grid.x.size(), 8u);
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 4, 4, 4, 8}));
    EXPECT_EQ(tavrik::index_profile(m).n, (Doubles{1.0, 1.0, 1.0, 1.0, 1.5, 1.5, 1.5, 1.5}));
}

// The last sample is x = 1.0 < 1.2: the top layer has no sample, yet it keeps
// its (empty) segment, and the profile is built.
TEST(Grid, LayerWithoutSamplesAtTheEndGetsAnEmptySegment) {
    const auto m = stack({{1.0, 1.0}, {2.0, 1.2}, {1.5, 0.3}}, 0.5);
    const auto grid = tavrik::get_grid_data(m);
    EXPECT_EQ(grid.x, (Doubles{-1.0, -0.5, 0.0, 0.5, 1.0}));
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 2, 5, 5}));
    EXPECT_EQ(tavrik::index_profile(m).n, (Doubles{1.0, 1.0, 2.0, 2.0, 2.0}));
}

// 4.19 / 0.01 rounds to a little above 419, so there are 420 samples and the
// last one, 419 * 0.01 - 1, is the end of the stack bit for bit. It belongs to
// the last layer.
TEST(Grid, SampleRoundedOntoTheEndOfTheStackStaysInTheLastLayer) {
    const auto m = stack({{1.45, 1.0}, {2.0, 1.378}, {1.0, 1.812}}, 0.01);
    const auto grid = tavrik::get_grid_data(m);
    ASSERT_EQ(grid.x.size(), 420u);
    EXPECT_EQ(grid.x.back(), grid.interfaces.back());
    EXPECT_EQ(grid.layer_bounds, (Bounds{0, 100, 238, 420}));
    const auto profile = tavrik::index_profile(m);
    EXPECT_EQ(profile.n.back(), 1.0);
    EXPECT_EQ(profile.n[237], 2.0);
}

TEST(Grid, Faults) {
    const std::string unwrap = tavrik::unwrap_message;
    const auto empty = stack({}, 0.5);
    EXPECT_EQ(fault_of([&] { tavrik::get_grid_data(empty); }), tavrik::index_message(0, 0));
    EXPECT_EQ(fault_of([&] { tavrik::index_profile(empty); }), tavrik::index_message(0, 0));
    for (const double step : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
        const auto m = stack({{1.5, 1.0}, {2.0, 1.0}}, step);
        EXPECT_EQ(fault_of([&] { tavrik::get_grid_data(m); }), unwrap) << step;
        EXPECT_EQ(fault_of([&] { tavrik::index_profile(m); }), unwrap) << step;
    }
    // A step of 0 on a stack of no thickness is 0/0 = NaN: the same fault.
    EXPECT_EQ(fault_of([&] { tavrik::get_grid_data(stack({{1.5, 0.0}}, 0.0)); }), unwrap);
}

}  // namespace
