#include "model/conditions.hpp"

#include "model/record.hpp"

namespace kestrix::results {

using nlohmann::json;

namespace {

template <class T> json out(const std::optional<T>& v) {
    return v ? json(*v) : json(nullptr);
}

template <class T> void in(const json& j, const char* key, std::optional<T>& v) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) {
        v.reset();
    } else {
        v = it->get<T>();
    }
}

template <class T> json condition_json(const condition<T>& c) {
    return json{{"value", out(c.value)},
                {"source", out(c.source)},
                {"unavailable", out(c.unavailable)},
                {"warning", out(c.warning)}};
}

template <class T> void read_condition(const json& j, const char* key, condition<T>& c) {
    const json& o = j.at(key);
    in(o, "value", c.value);
    in(o, "source", c.source);
    in(o, "unavailable", c.unavailable);
    in(o, "warning", c.warning);
    if (!c.source && !c.unavailable) {
        throw record_error(std::string("record's \"conditions.") + key +
                           "\": names neither its source nor why it is unknown");
    }
}

// Every condition by its JSON name, in the record's order.
template <class Conditions, class Fn> void each_condition(Conditions& c, Fn fn) {
    fn("other_load", c.other_load);
    fn("frequency_driver", c.frequency_driver);
    fn("governor", c.governor);
    fn("energy_performance_preference", c.energy_performance_preference);
    fn("turbo", c.turbo);
    fn("smt", c.smt);
    fn("hypervisor", c.hypervisor);
    fn("on_battery", c.on_battery);
    fn("transparent_huge_pages", c.transparent_huge_pages);
}

} // namespace

std::vector<std::string> run_conditions::warnings() const {
    std::vector<std::string> all;
    each_condition(*this, [&](const char*, const auto& c) {
        if (c.warning) {
            all.push_back(*c.warning);
        }
    });
    return all;
}

void to_json(json& j, const load_figures& v) {
    j = json{{"other_busy_percent", v.other_busy_percent},
             {"steal_percent", v.steal_percent},
             {"window_s", v.window_s}};
}

void from_json(const json& j, load_figures& v) {
    j.at("other_busy_percent").get_to(v.other_busy_percent);
    j.at("steal_percent").get_to(v.steal_percent);
    j.at("window_s").get_to(v.window_s);
}

void to_json(json& j, const run_conditions& v) {
    j = json::object();
    each_condition(v, [&](const char* name, const auto& c) { j[name] = condition_json(c); });
}

void from_json(const json& j, run_conditions& v) {
    each_condition(v, [&](const char* name, auto& c) { read_condition(j, name, c); });
}

void to_json(json& j, const root_info& v) {
    j = json{{"path", v.path},
             {"read_below_root", v.read_below_root},
             {"asked_of_processor", v.asked_of_processor}};
}

void from_json(const json& j, root_info& v) {
    j.at("path").get_to(v.path);
    j.at("read_below_root").get_to(v.read_below_root);
    j.at("asked_of_processor").get_to(v.asked_of_processor);
}

} // namespace kestrix::results
