// Internal faults: a violated precondition inside a computation.
//
// Expected failures (a mode that does not exist) are values, never faults. A
// fault abandons the whole call: the binding reports it on stderr and raises
// PanicException with the fault's message. Every fault's message is built in
// fault.cpp, so the texts callers may match on stay in one place. (A refused
// allocation is not a fault: MemoryRefused, a std::bad_alloc, says its own
// sizes in memory_budget.cpp, and the orderly "Mode ... not found" text is a
// result, built by search.cpp.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik {

class Fault : public std::runtime_error {
public:
    Fault(const std::string& message, std::source_location where);
    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

// Thrown when a search is cancelled from outside (an interrupt in the host).
// It carries no message: whoever asked for the cancellation knows why.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

// A cancellation check handed in by the caller: polled every few thousand
// stack walks; when it returns true the computation throws Cancelled. The
// core never learns why (an interrupt, a timeout, ...).
struct CancelCheck {
    bool (*poll)(void* context) = nullptr;
    void* context = nullptr;
    bool operator()() const { return poll != nullptr && poll(context); }
};

[[noreturn]] void fail(const std::string& message,
                       std::source_location where = std::source_location::current());
[[noreturn]] void fail_index(std::size_t len, std::size_t index,
                             std::source_location where = std::source_location::current());
[[noreturn]] void fail_unwrap(std::source_location where = std::source_location::current());
[[noreturn]] void fail_slice_order(std::size_t start, std::size_t end,
                                   std::source_location where = std::source_location::current());
[[noreturn]] void fail_slice_end(std::size_t end, std::size_t len,
                                 std::source_location where = std::source_location::current());

// "Not implemented yet": the field of a stack whose backend is the scattering
// matrix, which supplies no layer amplitudes.
[[noreturn]] void fail_not_implemented(
    std::source_location where = std::source_location::current());
// "The length of the input vectors must be the same": a trapezoid sum over
// samples and positions of different lengths.
[[noreturn]] void fail_length_mismatch(
    std::source_location where = std::source_location::current());

std::string index_message(std::size_t len, std::size_t index);
extern const char* const unwrap_message;

// Checked element access: the index-out-of-range fault instead of UB.
template <class C>
decltype(auto) at(C& container, std::size_t i,
                  std::source_location where = std::source_location::current()) {
    if (i >= container.size()) fail_index(container.size(), i, where);
    return container[i];
}

// Checked sub-range [start, end) of a container of length len.
inline void check_slice(std::size_t start, std::size_t end, std::size_t len,
                        std::source_location where = std::source_location::current()) {
    if (start > end) fail_slice_order(start, end, where);
    if (end > len) fail_slice_end(end, len, where);
}

}  // namespace tavrik
