#pragma once
// Reading and writing the members of a record's types: a wrong member is refused with its
// path ("cores[1].first_error.time_s: not a number"), an optional one reads null or missing as
// not known. Named functions, not file-local ones: files of the model that use them may share
// one unity build unit.
#include "model/record.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrix::results::json_fields {

// A field of the wrong kind: where, and what is wrong with it.
struct shape_error : record_error {
    shape_error(std::string where, std::string what)
        : record_error(where + ": " + what), path(std::move(where)), problem(std::move(what)) {}
    std::string path, problem;
};

template <class T> struct is_optional : std::false_type {};
template <class T> struct is_optional<std::optional<T>> : std::true_type {};
template <class T> struct is_vector : std::false_type {};
template <class T> struct is_vector<std::vector<T>> : std::true_type {};
template <class T> struct is_map : std::false_type {};
template <class T> struct is_map<std::map<std::string, T>> : std::true_type {};

template <class T> nlohmann::json out(const T& v) {
    if constexpr (is_optional<T>::value) {
        return v ? out(*v) : nlohmann::json(nullptr);
    } else if constexpr (is_vector<T>::value) {
        nlohmann::json a = nlohmann::json::array();
        for (const auto& x : v) {
            a.push_back(out(x));
        }
        return a;
    } else if constexpr (is_map<T>::value) {
        nlohmann::json o = nlohmann::json::object();
        for (const auto& [k, x] : v) {
            o[k] = out(x);
        }
        return o;
    } else {
        return nlohmann::json(v);
    }
}

template <class T> void in(const nlohmann::json& j, T& v) {
    using nlohmann::json;
    if constexpr (is_optional<T>::value) {
        if (j.is_null()) {
            v.reset();
        } else {
            typename T::value_type x{};
            in(j, x);
            v = std::move(x);
        }
    } else if constexpr (is_vector<T>::value) {
        if (!j.is_array()) {
            throw shape_error("", "not a list");
        }
        v.clear();
        v.reserve(j.size());
        for (std::size_t i = 0; i < j.size(); ++i) {
            typename T::value_type x{};
            try {
                in(j[i], x);
            } catch (const shape_error& e) {
                throw shape_error("[" + std::to_string(i) + "]" + e.path, e.problem);
            }
            v.push_back(std::move(x));
        }
    } else if constexpr (is_map<T>::value) {
        if (!j.is_object()) {
            throw shape_error("", "not an object");
        }
        v.clear();
        for (const auto& [k, x] : j.items()) {
            try {
                in(x, v[k]);
            } catch (const shape_error& e) {
                throw shape_error("." + k + e.path, e.problem);
            }
        }
    } else if constexpr (std::is_same_v<T, json>) {
        v = j;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!j.is_string()) {
            throw shape_error("", "not a text");
        }
        v = j.get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (!j.is_boolean()) {
            throw shape_error("", "not true or false");
        }
        v = j.get<bool>();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!j.is_number()) {
            throw shape_error("", "not a number");
        }
        v = j.get<T>();
    } else if constexpr (std::is_integral_v<T>) {
        // Parsed text holds non-negative numbers as unsigned, values built in memory as signed.
        if (j.is_number_unsigned() && std::in_range<T>(j.get<std::uint64_t>())) {
            v = static_cast<T>(j.get<std::uint64_t>());
        } else if (j.is_number_integer() && !j.is_number_unsigned() &&
                   std::in_range<T>(j.get<std::int64_t>())) {
            v = static_cast<T>(j.get<std::int64_t>());
        } else {
            throw shape_error("", "not a whole number in range");
        }
    } else {
        if (!j.is_object()) {
            throw shape_error("", "not an object");
        }
        from_json(j, v);
    }
}

// A member: required unless optional (then missing reads as null).
template <class T> void field(const nlohmann::json& j, const char* key, T& v) {
    const auto it = j.find(key);
    if (it == j.end()) {
        if constexpr (is_optional<T>::value) {
            v.reset();
            return;
        } else {
            throw shape_error(std::string(".") + key, "missing");
        }
    }
    try {
        in(*it, v);
    } catch (const shape_error& e) {
        throw shape_error(std::string(".") + key + e.path, e.problem);
    }
}

} // namespace kestrix::results::json_fields
