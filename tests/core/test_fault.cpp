#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault.hpp"
#include "support.hpp"

namespace {

using tavrik::testdata::fault_of;

TEST(Fault, MessagesAreTheSystemsOwnTexts) {
    EXPECT_EQ(fault_of([] { tavrik::fail_index(0, 0); }),
              "index out of bounds: the len is 0 but the index is 0");
    EXPECT_EQ(fault_of([] { tavrik::fail_index(3, 7); }),
              "index out of bounds: the len is 3 but the index is 7");
    EXPECT_EQ(fault_of([] { tavrik::fail_unwrap(); }), "called `Option::unwrap()` on a `None` value");
    EXPECT_EQ(fault_of([] { tavrik::fail_slice_order(5, 2); }), "slice index starts at 5 but ends at 2");
    EXPECT_EQ(fault_of([] { tavrik::fail_slice_end(9, 4); }),
              "range end index 9 out of range for slice of length 4");
    EXPECT_EQ(fault_of([] { tavrik::fail("Not implemented yet"); }), "Not implemented yet");
    EXPECT_EQ(fault_of([] { tavrik::fail_index(18446744073709551615ull, 4294967296ull); }),
              "index out of bounds: the len is 18446744073709551615 but the index is 4294967296");
}

TEST(Fault, CheckedAccessFaultsOutsideTheRange) {
    std::vector<int> values{1, 2, 3};
    EXPECT_EQ(tavrik::at(values, 2), 3);
    tavrik::at(values, 0) = 5;
    EXPECT_EQ(values[0], 5);
    try {
        tavrik::at(values, 3);
        FAIL() << "no fault";
    } catch (const tavrik::Fault& fault) {
        EXPECT_STREQ(fault.what(), "index out of bounds: the len is 3 but the index is 3");
        EXPECT_NE(std::string(fault.where().file_name()).find("test_fault.cpp"), std::string::npos)
            << "the report names the caller's location";
    }
}

TEST(Fault, SliceChecks) {
    EXPECT_NO_THROW(tavrik::check_slice(0, 0, 0));
    EXPECT_NO_THROW(tavrik::check_slice(2, 4, 4));
    EXPECT_THROW(tavrik::check_slice(3, 2, 4), tavrik::Fault);
    EXPECT_THROW(tavrik::check_slice(1, 5, 4), tavrik::Fault);
}

}  // namespace
