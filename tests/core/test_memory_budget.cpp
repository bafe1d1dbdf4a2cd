// Requests that cannot be allocated are refused before anything is allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <string>

#include "fault.hpp"
#include "memory_budget.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"

namespace {

tavrik::MultiLayer three_units(double plot_step) {
    tavrik::MultiLayer m;
    m.layers = {{1.0, 1.0}, {1.5, 1.0}, {1.0, 1.0}};
    m.plot_step = plot_step;
    return m;
}

TEST(MemoryBudget, SmallRequestsAndAvailableMemoryPass) {
    EXPECT_NO_THROW(tavrik::require_memory(0, 128));
    EXPECT_NO_THROW(tavrik::require_memory(1000, 128));
    const std::size_t available = tavrik::available_memory();
    ASSERT_GT(available, tavrik::memory_check_threshold);
    EXPECT_NO_THROW(tavrik::require_memory(available / 2, 1));
}

TEST(MemoryBudget, RequestBeyondAvailableMemoryIsRefusedWithItsSize) {
    const std::size_t available = tavrik::available_memory();
    ASSERT_LT(available, std::numeric_limits<std::size_t>::max() / 4);
    try {
        tavrik::require_memory(available / 2 + 1, 2);
        FAIL() << "not refused";
    } catch (const tavrik::MemoryRefused& refused) {
        const std::string text = refused.what();
        EXPECT_NE(text.find(std::to_string(available / 2 + 1) + " samples"), std::string::npos) << text;
        EXPECT_NE(text.find("available"), std::string::npos) << text;
    }
    // A byte count that overflows is refused too, not wrapped to something small.
    EXPECT_THROW(tavrik::require_memory(std::numeric_limits<std::size_t>::max() / 8, 16),
                 std::bad_alloc);
}

// 3e9 samples: a count the grid can represent (below 2^32), 24 GB per vector.
// The index profile needs 48 GB for it, the field far more. (On a machine with
// that much free memory the request is legitimate and is not made here.)
TEST(MemoryBudget, HugeGridIsRefusedBeforeAllocating) {
    if (tavrik::available_memory() > std::size_t{48'000'000'000}) GTEST_SKIP() << "enough memory";
    const auto m = three_units(1e-9);
    EXPECT_THROW(tavrik::index_profile(m), tavrik::MemoryRefused);
    EXPECT_THROW(tavrik::field(m, 2.0 * 3.141592653589793, tavrik::Polarization::TE, 0),
                 tavrik::MemoryRefused);
    // 4.2e9 samples of the plain range alone: 33.6 GB.
    if (tavrik::available_memory() < std::size_t{33'600'000'000}) {
        EXPECT_THROW(tavrik::arange(0.0, 4.2, 1e-9), tavrik::MemoryRefused);
    }
}

TEST(MemoryBudget, CountsFromTwoToTheThirtyTwoAreRefusedAndStepsWithoutMeaningFault) {
    // 3e10 samples is beyond 2^32, as is a subnormal step's infinite count: a
    // grid too fine to build, refused like one beyond memory.
    for (const double step : {1e-10, 5e-324}) {
        EXPECT_THROW(tavrik::index_profile(three_units(step)), tavrik::MemoryRefused) << step;
    }
    for (const double step : {0.0, std::nan("")}) {
        try {
            tavrik::get_grid_data(three_units(step));
            FAIL() << "no fault for " << step;
        } catch (const tavrik::Fault& fault) {
            EXPECT_STREQ(fault.what(), tavrik::unwrap_message);
        }
    }
}

}  // namespace
