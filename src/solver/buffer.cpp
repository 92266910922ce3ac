#include "solver/buffer.hpp"

#include <new>

namespace kestrix {

double_buffer::double_buffer() noexcept : values_(nullptr), size_(0) {}

double_buffer::~double_buffer() {
    release();
}

bool double_buffer::resize(std::uint64_t n) noexcept {
    release();
    if (n == 0 || n > static_cast<std::uint64_t>(-1) / sizeof(double)) {
        return false;
    }
    values_ = new (std::nothrow) double[n]();
    if (values_ == nullptr) {
        return false;
    }
    size_ = n;
    return true;
}

void double_buffer::release() noexcept {
    delete[] values_;
    values_ = nullptr;
    size_ = 0;
}

double* double_buffer::data() const noexcept {
    return values_;
}

std::uint64_t double_buffer::size() const noexcept {
    return size_;
}

} // namespace kestrix
