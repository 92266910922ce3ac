#pragma once
// A growable array of doubles for variant code, which must not instantiate standard
// containers of its own: every member is out of line, in baseline code.
#include <cstdint>

namespace kestrix {

class double_buffer {
public:
    double_buffer() noexcept;
    double_buffer(const double_buffer&) = delete;
    double_buffer& operator=(const double_buffer&) = delete;
    ~double_buffer();

    // Holds exactly n doubles, all 0, afterwards; false (and no storage) when n is 0 or the
    // storage cannot be obtained.
    bool resize(std::uint64_t n) noexcept;
    void release() noexcept;

    double* data() const noexcept;
    std::uint64_t size() const noexcept;

private:
    double* values_;
    std::uint64_t size_;
};

} // namespace kestrix
