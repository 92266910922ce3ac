#pragma once
// Processor identification: CPUID/XGETBV answers decoded into feature flags, the feature list,
// brand string, vendor/family/model and the instruction-set support check.
// Decoding is a pure function of a cpuid_source so recorded processors can be replayed.
#include "platform/isa.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

struct cpuid_regs {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

// The CPUID/XGETBV seam: the real instructions, or a recorded processor in tests.
class cpuid_source {
public:
    virtual ~cpuid_source() = default;
    virtual cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const = 0;
    virtual std::uint64_t xgetbv0() const = 0;
};

// The processor this program runs on.
const cpuid_source& host_cpuid();

struct cpu_features {
    bool mmx = false, sse = false, sse2 = false, sse3 = false, ssse3 = false, sse4_1 = false,
         sse4_2 = false, sse4a = false, popcnt = false, aes = false, rdrand = false, bmi1 = false,
         bmi2 = false, lzcnt = false, xop = false, avx = false, avx2 = false, fma = false,
         avx512f = false, avx512bw = false, avx512vl = false, avx512dq = false, avx512ifma = false,
         avx512pf = false, avx512er = false, avx512cd = false, avx512vbmi = false,
         avx512vbmi2 = false, avx512vnni = false, avx512bitalg = false, avx512vpopcntdq = false,
         gfni = false, vaes = false, vpclmulqdq = false, sha = false, movdiri = false,
         movdir64b = false, serialize = false, tsxldtrk = false, pku = false, ospke = false,
         rdpid = false, waitpkg = false, clwb = false, clflushopt = false, sgx = false,
         avx512_4vnniw = false, avx512_4fmaps = false, avx512_vp2intersect = false,
         amx_tile = false, amx_int8 = false, amx_bf16 = false, amx_fp16 = false, cet_ibt = false,
         cet_shstk = false, fsrm = false, hreset = false, uintr = false, avx512_bf16 = false,
         avx512_fp16 = false, avx10 = false;
    std::uint32_t avx10_version = 0;
    std::uint32_t avx10_vector_length = 0; // 0 none, 1 128-bit, 2 256-bit, 3 512-bit
    bool apx = false;
    // Register state the system has enabled (XCR0), kept for the variants' own run checks.
    bool os_avx_state = false;
    bool os_avx512_state = false;
    bool os_apx_state = false; // XCR0 bit 19
};

// What compiled code can need of the processor and the system, one bit each, in the order the
// run check names them.
enum cpu_need : std::uint32_t {
    need_avx_state = 1u << 0, // XCR0 bits 1-2
    need_avx = 1u << 1,
    need_avx2 = 1u << 2,
    need_fma = 1u << 3,
    need_apx_state = 1u << 4, // XCR0 bit 19
    need_apx = 1u << 5,
    need_avx512_state = 1u << 6, // XCR0 bits 1-2 and 5-7
    need_avx512f = 1u << 7,
    need_avx512vl = 1u << 8,
};
using cpu_needs = std::uint32_t;

// The needs these facts lack, named and comma-separated ("AVX2, FMA"); empty when none.
std::string missing_cpu_needs(cpu_needs needs, const cpu_features& f);

enum class cpu_vendor : std::uint8_t { intel = 0, amd = 1, other = 2 };

struct cpu_vendor_info {
    std::string brand;
    cpu_vendor vendor = cpu_vendor::other;
    std::int32_t family = 0;
    std::int32_t model = 0;
};

cpu_features decode_cpu_features(const cpuid_source& cpu);
std::string format_cpu_features(const cpu_features& f);
std::string read_cpu_brand(const cpuid_source& cpu);
cpu_vendor_info read_cpu_vendor_info(const cpuid_source& cpu);
std::optional<std::string> check_isa_support(isa_kind isa, const cpu_features& f);

// The same, on the host processor (queried afresh on every call).
cpu_features detect_cpu_features();
std::string format_cpu_features();
std::string read_cpu_brand();
cpu_vendor_info read_cpu_vendor_info();
std::optional<std::string> check_isa_support(isa_kind isa);

} // namespace kestrix
