#include "facts.hpp"

namespace kestrix::results {

using nlohmann::json;

namespace {

constexpr const char* left_out = "left out: host details not requested";

// The clock CPUID gives, else the system's, else both reasons.
fact<std::uint32_t> clock(const fact<std::uint32_t>& cpuid, const fact<std::uint32_t>& system) {
    if (cpuid.value) {
        return cpuid;
    }
    if (system.value) {
        return system;
    }
    return fact<std::uint32_t>::missing(cpuid.unavailable + "; " + system.unavailable);
}

template <typename T> json fact_json(const fact<T>& f) {
    if (f.value) {
        return json{{"value", *f.value}, {"source", f.source}};
    }
    return json{{"value", nullptr}, {"unavailable", f.unavailable}};
}

template <typename T> void read_fact(const json& j, fact<T>& f) {
    const json& v = j.at("value");
    if (v.is_null()) {
        f = fact<T>::missing(j.at("unavailable").get<std::string>());
    } else {
        f = fact<T>::known(v.get<T>(), j.at("source").get<std::string>());
    }
}

// Every board field, by its JSON name.
template <typename Board, typename Fn> void each_board_field(Board& b, Fn fn) {
    fn("board_vendor", b.board_vendor);
    fn("board_name", b.board_name);
    fn("bios_vendor", b.bios_vendor);
    fn("bios_version", b.bios_version);
    fn("bios_date", b.bios_date);
    fn("sys_vendor", b.sys_vendor);
    fn("product_name", b.product_name);
}

} // namespace

void to_json(json& j, const cache_level& c) {
    j = json{{"level", c.level},
             {"type", c.type},
             {"size_bytes", c.size_bytes},
             {"instances", c.instances}};
}

void from_json(const json& j, cache_level& c) {
    j.at("level").get_to(c.level);
    j.at("type").get_to(c.type);
    j.at("size_bytes").get_to(c.size_bytes);
    j.at("instances").get_to(c.instances);
}

system_facts assemble_system_facts(const cpuid_snapshot& cpu, const machine_answers& machine,
                                   bool with_host) {
    system_facts f;
    f.cpu = decode_cpu_identity(cpu);
    f.cpu.base_mhz = clock(f.cpu.base_mhz, machine.base_mhz);
    f.cpu.max_mhz = clock(f.cpu.max_mhz, machine.max_mhz);
    f.microcode = machine.microcode;
    f.caches = machine.caches;
    f.packages = machine.packages;
    f.board = machine.board;
    if (!with_host) {
        each_board_field(f.board,
                         [](const char*, fact<std::string>& b) { b = b.missing(left_out); });
    }
    f.timer_rule = decode_timer_rule_view(cpu);
    return f;
}

system_facts collect_system_facts(const facts_options& options) {
    return assemble_system_facts(take_cpuid_snapshot(host_cpuid()), read_machine(options.root),
                                 options.with_host);
}

void to_json(json& j, const system_facts& f) {
    json board = json::object();
    each_board_field(
        f.board, [&](const char* name, const fact<std::string>& b) { board[name] = fact_json(b); });
    j = json{
        {"cpu",
         {{"vendor", fact_json(f.cpu.vendor)},
          {"family", fact_json(f.cpu.family)},
          {"model", fact_json(f.cpu.model)},
          {"stepping", fact_json(f.cpu.stepping)},
          {"brand", fact_json(f.cpu.brand)},
          {"hypervisor_present", fact_json(f.cpu.hypervisor_present)},
          {"hypervisor", fact_json(f.cpu.hypervisor)},
          {"microcode", fact_json(f.microcode)},
          {"base_mhz", fact_json(f.cpu.base_mhz)},
          {"max_mhz", fact_json(f.cpu.max_mhz)}}},
        {"topology", {{"caches", fact_json(f.caches)}, {"packages", fact_json(f.packages)}}},
        {"board", board},
        {"timer_rule_view",
         {{"vendor", f.timer_rule.vendor},
          {"family", f.timer_rule.family},
          {"model", f.timer_rule.model},
          {"brand", f.timer_rule.brand}}},
    };
}

void from_json(const json& j, system_facts& f) {
    const json& cpu = j.at("cpu");
    read_fact(cpu.at("vendor"), f.cpu.vendor);
    read_fact(cpu.at("family"), f.cpu.family);
    read_fact(cpu.at("model"), f.cpu.model);
    read_fact(cpu.at("stepping"), f.cpu.stepping);
    read_fact(cpu.at("brand"), f.cpu.brand);
    read_fact(cpu.at("hypervisor_present"), f.cpu.hypervisor_present);
    read_fact(cpu.at("hypervisor"), f.cpu.hypervisor);
    read_fact(cpu.at("microcode"), f.microcode);
    read_fact(cpu.at("base_mhz"), f.cpu.base_mhz);
    read_fact(cpu.at("max_mhz"), f.cpu.max_mhz);
    read_fact(j.at("topology").at("caches"), f.caches);
    read_fact(j.at("topology").at("packages"), f.packages);
    const json& board = j.at("board");
    each_board_field(f.board,
                     [&](const char* name, fact<std::string>& b) { read_fact(board.at(name), b); });
    const json& t = j.at("timer_rule_view");
    t.at("vendor").get_to(f.timer_rule.vendor);
    t.at("family").get_to(f.timer_rule.family);
    t.at("model").get_to(f.timer_rule.model);
    t.at("brand").get_to(f.timer_rule.brand);
}

} // namespace kestrix::results
