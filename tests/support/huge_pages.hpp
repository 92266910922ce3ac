#pragma once
// The kernel's huge-page reservation (/proc/sys/vm/nr_hugepages), read, changed and put back
// by the tests that need reserved or absent huge pages and by the bench report's large-page
// section. Machine-wide: CTest runs those tests under one resource lock.
#include <fstream>
#include <string>

namespace kestrix::test {

inline constexpr const char* huge_pages_knob = "/proc/sys/vm/nr_hugepages";

// The reserved count, -1 when it cannot be read.
inline long read_huge_pages() {
    std::ifstream in(huge_pages_knob);
    long n = -1;
    in >> n;
    return in ? n : -1;
}

// Asks for n reserved pages; true when the kernel now holds exactly n.
inline bool write_huge_pages(long n) {
    std::ofstream out(huge_pages_knob);
    out << n << '\n';
    out.flush();
    return static_cast<bool>(out) && read_huge_pages() == n;
}

// Reserves `pages` more huge pages where the system lets us, and gives them back after.
class huge_page_reservation {
public:
    explicit huge_page_reservation(long pages) {
        previous_ = read_huge_pages();
        if (previous_ < 0) {
            reason_ = "cannot read /proc/sys/vm/nr_hugepages";
            return;
        }
        // Compaction first: a fragmented machine grants fewer pages than asked.
        std::ofstream("/proc/sys/vm/compact_memory") << 1 << std::flush;
        std::ofstream out(huge_pages_knob);
        out << previous_ + pages << std::flush;
        if (!out) {
            reason_ = "cannot write /proc/sys/vm/nr_hugepages (needs root)";
            return;
        }
        changed_ = true;
        if (read_huge_pages() < previous_ + pages) {
            reason_ = "the kernel could not reserve the huge pages";
        }
    }
    ~huge_page_reservation() {
        if (changed_) {
            write_huge_pages(previous_);
        }
    }
    huge_page_reservation(const huge_page_reservation&) = delete;
    huge_page_reservation& operator=(const huge_page_reservation&) = delete;
    // Empty when the pages are reserved; else why not.
    const std::string& reason() const { return reason_; }
    long previous() const { return previous_; }

private:
    long previous_ = 0;
    bool changed_ = false;
    std::string reason_;
};

} // namespace kestrix::test
