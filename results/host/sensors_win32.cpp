// The Windows sensors: the clock from the PDH processor-performance counters, else what the power
// manager reports. Temperature, power and throttle counters need a vendor's driver.
#include "processor_counters.hpp"
#include "sensors.hpp"
#include "utf8_win32.hpp"

#include <windows.h>

#include <pdh.h>
#include <pdhmsg.h>
#include <powrprof.h>

#include <fmt/format.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace kestrix::results {

namespace {

constexpr const wchar_t* pdh_performance_path =
    L"\\Processor Information(*)\\% Processor Performance";
constexpr const wchar_t* pdh_frequency_path = L"\\Processor Information(*)\\Processor Frequency";
constexpr const char* pdh_performance_name = "\\Processor Information(*)\\% Processor Performance";
constexpr const char* pdh_frequency_name = "\\Processor Information(*)\\Processor Frequency";
constexpr const char* power_information_name = "CallNtPowerInformation(ProcessorInformation)";
constexpr const char* no_vendor_driver = "not available without a vendor driver";

// What CallNtPowerInformation(ProcessorInformation) writes per processor; mingw-w64's headers
// leave it out.
struct power_manager_processor {
    ULONG number, max_mhz, current_mhz, mhz_limit, max_idle_state, current_idle_state;
};

// Each active group's processor count, in group order.
std::vector<std::uint32_t> active_processor_groups() {
    std::vector<std::uint32_t> sizes;
    const WORD groups = ::GetActiveProcessorGroupCount();
    for (WORD g = 0; g < groups; ++g) {
        sizes.push_back(::GetActiveProcessorCount(g));
    }
    return sizes;
}

// Wine answers CallNtPowerInformation from Linux's cpufreq files, or with a made-up clock.
bool under_wine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The power manager's answer for every processor (zeros where it says nothing), or why none.
std::string read_power_manager(std::vector<power_manager_processor>& cpus) {
    std::fill(cpus.begin(), cpus.end(), power_manager_processor{});
    const auto bytes = static_cast<ULONG>(cpus.size() * sizeof(power_manager_processor));
    const NTSTATUS s =
        ::CallNtPowerInformation(ProcessorInformation, nullptr, 0, cpus.data(), bytes);
    if (s != 0) {
        return fmt::format("{} failed with status 0x{:08X}", power_information_name,
                           static_cast<std::uint32_t>(s));
    }
    return {};
}

// "what failed with 0x…: text", the text from pdh.dll's message table where it has one.
std::string pdh_failure(std::string_view what, PDH_STATUS status) {
    std::string text;
    wchar_t* message = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     ::GetModuleHandleW(L"pdh.dll"), static_cast<DWORD>(status), 0,
                                     reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (n > 0 && message != nullptr) {
        std::wstring_view m(message, n);
        while (!m.empty() && (m.back() == L'\r' || m.back() == L'\n' || m.back() == L' ')) {
            m.remove_suffix(1);
        }
        text = utf8(m);
    }
    if (message != nullptr) {
        ::LocalFree(message);
    }
    const auto code = static_cast<std::uint32_t>(status);
    return text.empty() ? fmt::format("{} failed with 0x{:08X}", what, code)
                        : fmt::format("{} failed with 0x{:08X}: {}", what, code, text);
}

bool pdh_value_valid(const PDH_FMT_COUNTERVALUE& v) {
    return v.CStatus == PDH_CSTATUS_VALID_DATA || v.CStatus == PDH_CSTATUS_NEW_DATA;
}

class pdh_sensor_reader final : public sensor_reader {
public:
    explicit pdh_sensor_reader(bool hypervisor);
    ~pdh_sensor_reader() override;
    pdh_sensor_reader(const pdh_sensor_reader&) = delete;
    pdh_sensor_reader& operator=(const pdh_sensor_reader&) = delete;

    const sensor_status& status() const override { return status_; }
    sensor_reading read() override;

private:
    // Opens the query with the performance counter, and the nominal clock's where it exists (else
    // its failure in `frequency_status`); empty, or why not.
    std::string open_pdh(PDH_STATUS& frequency_status);
    void close_pdh();
    // Calls `take(position, value)` for every valid per-processor value of the last collection.
    template <class F> void each_processor(PDH_HCOUNTER counter, F take);
    void read_effective(std::vector<std::optional<double>>& mhz);
    void read_reported(std::vector<std::optional<double>>& mhz);

    sensor_status status_;
    std::vector<std::uint32_t> groups_;
    std::vector<power_manager_processor> power_manager_;
    PDH_HQUERY query_ = nullptr;
    PDH_HCOUNTER performance_ = nullptr;
    PDH_HCOUNTER frequency_ = nullptr;
    bool collected_ = false; // a rate needs a collection before it
    std::vector<double> nominal_mhz_;
    std::vector<PDH_FMT_COUNTERVALUE_ITEM_W> items_;
};

pdh_sensor_reader::pdh_sensor_reader(bool hypervisor) {
    status_.temperature.unavailable = no_vendor_driver;
    status_.power.unavailable = no_vendor_driver;
    status_.throttle.unavailable = "not available on Windows without a vendor driver";
    try {
        groups_ = active_processor_groups();
        std::uint64_t processors = 0;
        for (const auto n : groups_) {
            processors += n;
        }
        if (processors == 0) {
            status_.clock.unavailable = "GetActiveProcessorCount counts no processor";
            return;
        }
        status_.logical_processors = processors;
        power_manager_.resize(processors);
        nominal_mhz_.resize(processors);
        const std::string power_why = read_power_manager(power_manager_);
        const bool max_known = power_why.empty();

        PDH_STATUS frequency_status = ERROR_SUCCESS;
        std::string pdh_why = open_pdh(frequency_status);
        if (pdh_why.empty() && frequency_ == nullptr && !max_known) {
            // Nothing to scale the performance counter by.
            pdh_why = pdh_failure(fmt::format("PdhAddEnglishCounterW({})", pdh_frequency_name),
                                  frequency_status);
            close_pdh();
        }
        if (pdh_why.empty()) {
            status_.clock_label = "effective";
            status_.clock.source = fmt::format(
                "PDH {} x {}", pdh_performance_name,
                frequency_ != nullptr ? std::string(pdh_frequency_name)
                                      : fmt::format("{} MaxMhz", power_information_name));
            return;
        }
        if (!power_why.empty()) {
            status_.clock.unavailable = fmt::format("PDH: {}; {}", pdh_why, power_why);
            return;
        }
        status_.clock_label = "reported";
        status_.clock.source = fmt::format("{} CurrentMhz", power_information_name);
        status_.clock.note = fmt::format("PDH: {}", pdh_why);
        if (under_wine()) {
            *status_.clock.note += "; under Wine this is Linux's scaling_cur_freq, else the first "
                                   "processor's /proc/cpuinfo clock or a made-up 1000 MHz";
        }
        if (hypervisor) {
            *status_.clock.note += "; under a hypervisor this is the nominal clock";
        }
    } catch (...) {
        close_pdh();
        status_.clock_label.clear();
        status_.clock.source.reset();
        status_.clock.note.reset();
        status_.clock.unavailable = "out of memory while opening the clock sources";
    }
}

pdh_sensor_reader::~pdh_sensor_reader() {
    close_pdh();
}

std::string pdh_sensor_reader::open_pdh(PDH_STATUS& frequency_status) {
    PDH_STATUS s = ::PdhOpenQueryW(nullptr, 0, &query_);
    if (s != ERROR_SUCCESS) {
        query_ = nullptr;
        return pdh_failure("PdhOpenQueryW", s);
    }
    s = ::PdhAddEnglishCounterW(query_, pdh_performance_path, 0, &performance_);
    if (s != ERROR_SUCCESS) {
        close_pdh();
        return pdh_failure(fmt::format("PdhAddEnglishCounterW({})", pdh_performance_name), s);
    }
    // Without it the power manager's MaxMhz is the nominal clock.
    frequency_status = ::PdhAddEnglishCounterW(query_, pdh_frequency_path, 0, &frequency_);
    if (frequency_status != ERROR_SUCCESS) {
        frequency_ = nullptr;
    }
    return {};
}

void pdh_sensor_reader::close_pdh() {
    if (query_ != nullptr) {
        ::PdhCloseQuery(query_); // closes its counters too
    }
    query_ = nullptr;
    performance_ = nullptr;
    frequency_ = nullptr;
}

sensor_reading pdh_sensor_reader::read() {
    sensor_reading r;
    try {
        r.clock_mhz.assign(status_.logical_processors, std::nullopt);
        if (query_ != nullptr) {
            read_effective(r.clock_mhz);
        } else if (status_.clock.found()) {
            read_reported(r.clock_mhz);
        }
    } catch (...) {
        for (auto& v : r.clock_mhz) {
            v.reset();
        }
    }
    return r;
}

template <class F> void pdh_sensor_reader::each_processor(PDH_HCOUNTER counter, F take) {
    constexpr DWORD format = PDH_FMT_DOUBLE | PDH_FMT_NOCAP100;
    DWORD bytes = 0;
    DWORD count = 0;
    if (::PdhGetFormattedCounterArrayW(counter, format, &bytes, &count, nullptr) !=
            static_cast<PDH_STATUS>(PDH_MORE_DATA) ||
        bytes == 0) {
        return;
    }
    // The instance names follow the items in the same buffer.
    items_.resize((bytes + sizeof(PDH_FMT_COUNTERVALUE_ITEM_W) - 1) /
                  sizeof(PDH_FMT_COUNTERVALUE_ITEM_W));
    bytes = static_cast<DWORD>(items_.size() * sizeof(PDH_FMT_COUNTERVALUE_ITEM_W));
    if (::PdhGetFormattedCounterArrayW(counter, format, &bytes, &count, items_.data()) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0; i < count && i < items_.size(); ++i) {
        const auto& item = items_[i];
        if (item.szName == nullptr || !pdh_value_valid(item.FmtValue)) {
            continue;
        }
        if (const auto at = processor_position(item.szName, groups_)) {
            take(*at, item.FmtValue.doubleValue);
        }
    }
}

void pdh_sensor_reader::read_effective(std::vector<std::optional<double>>& mhz) {
    if (::PdhCollectQueryData(query_) != ERROR_SUCCESS) {
        return;
    }
    if (!collected_) {
        collected_ = true;
        return;
    }
    for (std::size_t i = 0; i < nominal_mhz_.size(); ++i) {
        nominal_mhz_[i] = power_manager_[i].max_mhz;
    }
    if (frequency_ != nullptr) {
        each_processor(frequency_, [&](std::size_t at, double v) {
            if (v > 0) {
                nominal_mhz_[at] = v;
            }
        });
    }
    each_processor(performance_,
                   [&](std::size_t at, double v) { mhz[at] = effective_mhz(v, nominal_mhz_[at]); });
}

void pdh_sensor_reader::read_reported(std::vector<std::optional<double>>& mhz) {
    if (!read_power_manager(power_manager_).empty()) {
        return;
    }
    for (std::size_t i = 0; i < mhz.size(); ++i) {
        if (power_manager_[i].current_mhz > 0) {
            mhz[i] = power_manager_[i].current_mhz;
        }
    }
}

} // namespace

std::unique_ptr<sensor_reader> open_system_sensors(const std::filesystem::path&, bool hypervisor) {
    return std::make_unique<pdh_sensor_reader>(hypervisor);
}

} // namespace kestrix::results
