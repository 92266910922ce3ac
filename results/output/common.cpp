#include "output/exporters.hpp"

#include <cmath>
#include <cstdio>

namespace kestrix::results {

std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) {
        return s;
    }
    std::string q = "\"";
    for (char c : s) {
        q += c;
        if (c == '"') {
            q += '"';
        }
    }
    return q + "\"";
}

std::string md_cell(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '|') {
            out += "\\|";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

double tick_step(double top) {
    if (!(top > 0) || !std::isfinite(top)) {
        return 1;
    }
    const double raw = top / 5;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (raw <= m * mag) {
            return m * mag;
        }
    }
    return 10 * mag;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string cell(const std::optional<double>& v, int decimals) {
    return v ? fixed(*v, decimals) : std::string("---");
}

std::string percent(const std::optional<double>& v) {
    return v ? fixed(*v, 2) + " %" : std::string("---");
}

std::string scores_text(const point_stats& p, const char* sep) {
    std::string s;
    for (std::size_t i = 0; i < p.scores.size(); ++i) {
        if (i) {
            s += sep;
        }
        s += cell(p.scores[i]);
    }
    return s;
}

std::string yes_no(const std::optional<bool>& b) {
    return b ? std::string(*b ? "yes" : "no") : std::string("---");
}

} // namespace kestrix::results
