#include "stress/options.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

namespace kestrix::stress {

namespace {

// The grid edges kestrix accepts.
constexpr std::array<std::uint64_t, 14> edges = {64,  128, 192, 256,  320,  384,  448,
                                                 512, 640, 768, 1024, 2048, 4096, 8192};

std::optional<std::uint64_t> parse_number(std::string_view text) {
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(sep, start);
        out.push_back(text.substr(start, pos == std::string_view::npos ? pos : pos - start));
        if (pos == std::string_view::npos) {
            return out;
        }
        start = pos + 1;
    }
}

std::string edge_list() {
    std::string text;
    for (std::uint64_t e : edges) {
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(e);
    }
    return text;
}

} // namespace

std::optional<std::chrono::milliseconds> parse_duration(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (auto plain = parse_number(text)) {
        if (*plain > 100ULL * 365 * 86400) {
            return std::nullopt;
        }
        return std::chrono::milliseconds(*plain * 1000);
    }
    std::uint64_t total = 0;
    while (!text.empty()) {
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            ++digits;
        }
        if (digits == 0 || digits == text.size() || digits > 9) {
            return std::nullopt;
        }
        const std::uint64_t v = *parse_number(text.substr(0, digits));
        std::uint64_t unit = 0;
        switch (text[digits]) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            return std::nullopt;
        }
        total += v * unit;
        text.remove_prefix(digits + 1);
    }
    if (total > 100ULL * 365 * 86400) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(total * 1000);
}

std::optional<std::vector<std::uint32_t>> parse_cpu_list(std::string_view text) {
    std::vector<std::uint32_t> out;
    for (std::string_view part : split(text, ',')) {
        const std::size_t dash = part.find('-');
        const auto first = parse_number(part.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : parse_number(part.substr(dash + 1));
        // Processor numbers fit 32 bits; a range of more than 2^16 is a typing error.
        if (!first || !last || *first > *last || *last > 0xFFFFFFFFULL || *last - *first > 65536) {
            return std::nullopt;
        }
        for (std::uint64_t c = *first; c <= *last; ++c) {
            out.push_back(static_cast<std::uint32_t>(c));
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string clock_text(double seconds) {
    const auto s = static_cast<std::uint64_t>(seconds < 0.0 ? 0.0 : seconds);
    return fmt::format("{}:{:02}:{:02}", s / 3600, (s / 60) % 60, s % 60);
}

parsed_options parse_options(const std::vector<std::string>& args) {
    parsed_options p;
    stress_options& o = p.options;
    auto fail = [&](std::string text) {
        p.error = std::move(text);
        return p;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const bool flag = name == "--smt" || name == "--keep-going" || name == "--help" ||
                          name == "-h" || name == "--version";
        if (flag) {
            if (value) {
                return fail(fmt::format("option {} takes no value", name));
            }
            o.smt |= name == "--smt";
            o.keep_going |= name == "--keep-going";
            o.help |= name == "--help" || name == "-h";
            o.version |= name == "--version";
            continue;
        }
        static constexpr std::array<std::string_view, 8> valued = {
            "--mode", "--cores", "--isa", "--slice", "--for", "--workload", "--size", "--out"};
        if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
            return fail(fmt::format("unknown option '{}'", name));
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return fail(fmt::format("option {} needs a value", name));
            }
            value = args[++i];
        }
        const std::string& v = *value;
        if (name == "--mode") {
            if (v == "all") {
                o.mode = stress_mode::all;
            } else if (v == "cycle") {
                o.mode = stress_mode::cycle;
            } else {
                return fail(fmt::format("invalid mode '{}', must be one of: all, cycle", v));
            }
        } else if (name == "--cores") {
            o.cores = parse_cpu_list(v);
            if (!o.cores) {
                return fail(fmt::format(
                    "invalid processor list '{}', expected numbers and ranges such as 0-7,12", v));
            }
        } else if (name == "--isa") {
            std::vector<isa_kind> list;
            for (std::string_view n : split(v, ',')) {
                const auto isa = parse_isa_name(n);
                if (!isa) {
                    std::string names;
                    for (std::string_view k : isa_names) {
                        if (!names.empty()) {
                            names += ", ";
                        }
                        names += k;
                    }
                    return fail(fmt::format("invalid isa name '{}', must be one of: {}", n, names));
                }
                if (std::find(list.begin(), list.end(), *isa) == list.end()) {
                    list.push_back(*isa);
                }
            }
            o.variants = list;
        } else if (name == "--slice" || name == "--for") {
            const auto d = parse_duration(v);
            if (!d || (name == "--slice" && d->count() == 0)) {
                return fail(fmt::format("invalid duration '{}' for {}, expected such as 90s, 10m, "
                                        "6h{}",
                                        v, name, name == "--for" ? " or 0" : ""));
            }
            if (name == "--slice") {
                o.slice = *d;
            } else {
                o.duration = *d;
            }
        } else if (name == "--workload") {
            const auto w = parse_workload_name(v);
            if (!w) {
                return fail(fmt::format(
                    "invalid workload name '{}', must be one of: standing_wave, soft_gaussian", v));
            }
            o.workload = *w;
        } else if (name == "--size") {
            const auto n = parse_number(v);
            if (!n || std::find(edges.begin(), edges.end(), *n) == edges.end()) {
                return fail(fmt::format("invalid size '{}', must be one of: {}", v, edge_list()));
            }
            o.size = *n;
        } else if (name == "--out") {
            if (v.empty()) {
                return fail("option --out needs a file name");
            }
            o.out = v;
        }
    }
    return p;
}

const char* const help_text = R"(usage: kestrix-stress [options]

A stability test: every selected core runs the same field solver from the same start
state, and the hashes of all E and H fields are compared at checkpoints. A core whose
fields differ from those of the majority is named by its processor number.

  --mode all|cycle   all selected cores at once (heat and power; default), or one core
                     at a time (the highest single-core clocks)
  --cores LIST       processors by the system's numbers, such as 0-7,12
                     (default: every core, one logical processor each)
  --smt              every logical processor of every core
  --isa LIST         variants, such as sse2,avx2,avx512f (default: sse2 and the widest
                     variant this processor runs)
  --slice TIME       the next core and variant (cycle) or the next variant (all) after
                     this long (default 60s in cycle mode, 10m in all mode)
  --for TIME         how long: 90s, 10m, 6h; 0 until interrupted (default: one slice
                     of every variant, in cycle mode of every core and variant)
  --keep-going       report a failed core, leave it out of later slices and go on
                     (default: stop at the first error)
  --workload NAME    soft_gaussian (default) or standing_wave
  --size N           grid edge, as in kestrix (default 64)
  --out FILE         JSON record, rewritten at the start, after every error and every
                     minute
  --version          the version
  --help             this text

Exit codes: 0 no error, 1 an error was found, 2 usage or set-up error, 130 or 143 when a
timed run is interrupted before any error.
)";

} // namespace kestrix::stress
