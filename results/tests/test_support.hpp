#pragma once
// Paths of the test data and the schema as the test program sees them (Wine: drive Z:).
#include <filesystem>
#include <random>
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

// An empty folder of its own under the temporary folder, for one test's records.
inline std::filesystem::path fresh_dir(const std::string& name) {
    namespace fs = std::filesystem;
    static int n = 0;
    const fs::path d = fs::temp_directory_path() /
                       ("kx_results_" + name + "_" + std::to_string(std::random_device{}()) + "_" +
                        std::to_string(n++));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

} // namespace kestrix::results::test
