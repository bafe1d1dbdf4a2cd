#include "fault.hpp"

namespace tavrik {

Fault::Fault(const std::string& message, std::source_location where)
    : std::runtime_error(message), where_(where) {}

const char* const unwrap_message = "called `Option::unwrap()` on a `None` value";

std::string index_message(std::size_t len, std::size_t index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

void fail(const std::string& message, std::source_location where) { throw Fault(message, where); }

void fail_index(std::size_t len, std::size_t index, std::source_location where) {
    throw Fault(index_message(len, index), where);
}

void fail_unwrap(std::source_location where) { throw Fault(unwrap_message, where); }

void fail_not_implemented(std::source_location where) { throw Fault("Not implemented yet", where); }

void fail_length_mismatch(std::source_location where) {
    throw Fault("The length of the input vectors must be the same", where);
}

void fail_slice_order(std::size_t start, std::size_t end, std::source_location where) {
    throw Fault("slice index starts at " + std::to_string(start) + " but ends at " +
                    std::to_string(end),
                where);
}

void fail_slice_end(std::size_t end, std::size_t len, std::source_location where) {
    throw Fault("range end index " + std::to_string(end) + " out of range for slice of length " +
                    std::to_string(len),
                where);
}

}  // namespace tavrik
