#pragma once
// A console sink that keeps what a run writes, per stream, for the test to read.
#include "console/output.hpp"

#include <mutex>
#include <string>
#include <string_view>

namespace kestrix::test {

class capture_sink final : public console_sink {
public:
    void put(stream s, std::string_view text, bool) override {
        std::lock_guard lock(mutex_);
        (s == stream::err ? err_ : out_).append(text);
    }
    std::string out() const {
        std::lock_guard lock(mutex_);
        return out_;
    }
    std::string err() const {
        std::lock_guard lock(mutex_);
        return err_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        out_.clear();
        err_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::string out_;
    std::string err_;
};

} // namespace kestrix::test
