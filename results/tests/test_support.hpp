#pragma once
// Paths of the test data and the schema as the test program sees them (Wine: drive Z:).
#include <string>

namespace kestrix::results::test {

inline std::string host_path(std::string p) {
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
    }
#endif
    return p;
}

inline std::string data_file(const std::string& name) {
    return host_path(std::string(KX_RESULTS_DATA) + "/" + name);
}

} // namespace kestrix::results::test
