// Requests whose size is known before anything is allocated.
//
// A sampling grid is allocated up front: one double per sample, and a field
// call builds several vectors of that length on it. A count near the 2^32
// limit asks for tens or hundreds of gigabytes; with the kernel's default
// overcommit the allocation itself may succeed and the process is then killed
// while the vectors are being filled. Such a request is refused before any of
// it is allocated, with std::bad_alloc (the host binding turns it into
// MemoryError), when it exceeds the memory the system can still give: the
// kernel's estimate of available memory, capped by the control group's limit.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

namespace tavrik {

// A request refused by require_memory; what() says how much was asked for and
// how much is available.
class MemoryRefused : public std::bad_alloc {
public:
    explicit MemoryRefused(const std::string& message) : message_(message) {}
    const char* what() const noexcept override { return message_.what(); }

private:
    std::runtime_error message_;  // a copy that cannot throw
};

// Requests below this many bytes are not checked: they cannot be what brings
// a machine down, and the check reads the system's counters.
inline constexpr std::size_t memory_check_threshold = std::size_t{64} << 20;

// The bytes the system can still give this process, or the largest size_t
// when it cannot tell.
std::size_t available_memory();

// Throws MemoryRefused when `count` samples of `bytes_per_sample` bytes each
// (together, whatever vectors they are spread over) exceed available_memory().
void require_memory(std::size_t count, std::size_t bytes_per_sample);

// A range of `count` samples (the unchecked ceiling of arange's count) with a
// positive step that reaches 2^32 samples (a step far too fine for the stack, or
// a stack far too thick) asks for more than a grid can index: refused as memory
// too. The count of a zero, negative or NaN step keeps arange's own rules.
void refuse_oversized_range(double count, double step);

}  // namespace tavrik
