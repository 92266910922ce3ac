#pragma once
// Register sets of real processor families (values as the vendors' CPUID documentation lays
// them out), plus AVX10.2 parts built the same way.
#include "fake_cpu.hpp"

namespace kestrix::test {

// Pentium 4 (Northwood): SSE2 is the newest extension; no XSAVE, so XCR0 must not be read.
inline fake_cpu pentium4() {
    fake_cpu c;
    c.set(0, 0, {0x2, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x00000F29, 0x00010809, 0x00004400, 0xBFEBFBFF})
        .set(0x80000000u, 0, {0x80000004u, 0, 0, 0})
        .brand("              Intel(R) Pentium(R) 4 CPU 2.80GHz");
    return c;
}

// Core i9-12900K (Alder Lake, hybrid): AVX2 and friends, no AVX-512 state enabled.
inline fake_cpu alder_lake() {
    fake_cpu c;
    c.set(0, 0, {0x20, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x00090672, 0x00800800, 0x7FFAFBFF, 0xBFEBFBFF})
        .set(7, 0, {0x2, 0x239C27EB, 0x98C027AC, 0xFC1CC410})
        .set(7, 1, {0x00400410, 0, 0, 0})
        .set(0x15, 0, {0x2, 0xBC, 0x0249F000, 0})
        .set(0x16, 0, {0xC80, 0x1324, 0x64, 0})
        .set(0x80000000u, 0, {0x80000008u, 0, 0, 0})
        .set(0x80000001u, 0, {0, 0, 0x00000121, 0x2C100800})
        .set(0x80000007u, 0, {0, 0, 0, 0x100})
        .brand("12th Gen Intel(R) Core(TM) i9-12900K");
    c.xcr0 = 0x207;
    return c;
}

// Xeon Platinum 8480+ (Sapphire Rapids): AVX-512 with FP16 and BF16, AMX tiles enabled.
inline fake_cpu sapphire_rapids() {
    fake_cpu c;
    c.set(0, 0, {0x20, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x000806F8, 0x00800800, 0x7FFEFBFF, 0xBFEBFBFF})
        .set(7, 0, {0x2, 0xF3BF0FBF, 0xDB417FFE, 0xFFD54430})
        .set(7, 1, {0x30, 0, 0, 0})
        .set(0x15, 0, {0x2, 0x3C, 0x0, 0})
        .set(0x16, 0, {0x7D0, 0xED8, 0x64, 0})
        .set(0x80000000u, 0, {0x80000008u, 0, 0, 0})
        .set(0x80000001u, 0, {0, 0, 0x00000121, 0x2C100800})
        .set(0x80000007u, 0, {0, 0, 0, 0x100})
        .brand("Intel(R) Xeon(R) Platinum 8480+");
    c.xcr0 = 0x602E7;
    return c;
}

// Xeon Phi 7250 (Knights Landing): AVX-512 F, CD, ER and PF without VL, DQ or BW.
inline fake_cpu knights_landing() {
    fake_cpu c;
    c.set(0, 0, {0xD, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x00050671, 0x00400800, 0x7FF8F3BF, 0xBFEBFBFF})
        .set(7, 0, {0x0, 0x1C0D03AB, 0x00000001, 0x00000000})
        .set(0x80000000u, 0, {0x80000008u, 0, 0, 0})
        .set(0x80000001u, 0, {0, 0, 0x00000121, 0x2C100800})
        .brand("Intel(R) Xeon Phi(TM) CPU 7250 @ 1.40GHz");
    c.xcr0 = 0xE7;
    return c;
}

// Ryzen 9 7950X (Zen 4): AVX-512 at the family 0xF / extended family 0xA encoding.
inline fake_cpu zen4() {
    fake_cpu c;
    c.set(0, 0, {0x10, 0x68747541, 0x444D4163, 0x69746E65})
        .set(1, 0, {0x00A60F12, 0x00200800, 0x7EF8320B, 0x178BFBFF})
        .set(7, 0, {0x1, 0xF1BF07A9, 0x00415FDE, 0x00000010})
        .set(7, 1, {0x20, 0, 0, 0})
        .set(0x80000000u, 0, {0x80000028u, 0x68747541, 0x444D4163, 0x69746E65})
        .set(0x80000001u, 0, {0x00A60F12, 0, 0x75C237FF, 0x2FD3FBFF})
        .set(0x80000007u, 0, {0, 0, 0, 0x6799})
        .brand("AMD Ryzen 9 7950X 16-Core Processor          ");
    c.xcr0 = 0x2E7;
    return c;
}

// A server part with AVX10.2 at 512 bits and APX (Sapphire Rapids registers plus the new leaves).
inline fake_cpu avx10_2_512() {
    fake_cpu c = sapphire_rapids();
    c.set(0, 0, {0x24, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(7, 1, {0x30, 0, 0, 0x00280000})
        .set(0x24, 0, {0, 0x00070002, 0, 0});
    c.xcr0 = 0xE02E7;
    return c;
}

// A client part with AVX10.2 limited to 256 bits and no AVX-512 foundation bits.
inline fake_cpu avx10_2_256() {
    fake_cpu c = alder_lake();
    c.set(0, 0, {0x24, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(7, 1, {0x00400410, 0, 0, 0x00080000})
        .set(0x24, 0, {0, 0x00030002, 0, 0});
    c.xcr0 = 0x2E7;
    return c;
}

// Ryzen 9 5950X (Zen 3): family 0xF + 0xA = 0x19, model 0x21.
inline fake_cpu zen3() {
    fake_cpu c;
    c.set(0, 0, {0x10, 0x68747541, 0x444D4163, 0x69746E65})
        .set(1, 0, {0x00A20F10, 0x00200800, 0x7ED8320B, 0x178BFBFF})
        .set(7, 0, {0x0, 0x219C97A9, 0x0040069C, 0x00000010})
        .set(0x80000000u, 0, {0x80000020u, 0x68747541, 0x444D4163, 0x69746E65})
        .set(0x80000001u, 0, {0x00A20F10, 0, 0x75C237FF, 0x2FD3FBFF})
        .brand("AMD Ryzen 9 5950X 16-Core Processor             ");
    c.xcr0 = 0x207;
    return c;
}

// Ryzen 9 9950X (Zen 5, Granite Ridge): family 0xF + 0xB = 0x1A, model 0x44.
inline fake_cpu zen5() {
    fake_cpu c = zen4();
    c.set(1, 0, {0x00B40F40, 0x00200800, 0x7EF8320B, 0x178BFBFF})
        .brand("AMD Ryzen 9 9950X 16-Core Processor            ");
    return c;
}

// A Zen 5 guest under bhyve (this project's build machine): family 0x1A, model 2, a brand
// without the vendor's name, leaf 1 ECX bit 31 set and the hypervisor's signature.
inline fake_cpu zen5_bhyve_guest() {
    fake_cpu c;
    c.set(0, 0, {0x0000000D, 0x68747541, 0x444D4163, 0x69746E65})
        .set(1, 0, {0x00B00F21, 0x2FFE0800, 0xFED83203, 0x178BFBFF})
        .set(0x40000000u, 0, {0x40000000u, 0x76796862, 0x68622065, 0x20657679})
        .set(0x80000000u, 0, {0x80000021u, 0x68747541, 0x444D4163, 0x69746E65})
        .set(0x80000002u, 0, {0x6469784F, 0x69562065, 0x61757472, 0x7554206C})
        .set(0x80000003u, 0, {0x2D6E6972, 0x656B696C, 0x6F725020, 0x73736563})
        .set(0x80000004u, 0, {0x2020726F, 0x20202020, 0x20202020, 0x00202020});
    c.xcr0 = 0x2E7;
    return c;
}

// Xeon Gold 6148 (Skylake-SP) as a KVM guest: hypervisor bit and "KVMKVMKVM".
inline fake_cpu skylake_kvm_guest() {
    fake_cpu c;
    c.set(0, 0, {0x16, 0x756E6547, 0x6C65746E, 0x49656E69})
        .set(1, 0, {0x00050654, 0x00010800, 0xFFFA3203, 0x0F8BFBFF})
        .set(0x40000000u, 0, {0x40000001u, 0x4B4D564B, 0x564B4D56, 0x0000004D})
        .set(0x80000000u, 0, {0x80000008u, 0, 0, 0})
        .brand("Intel(R) Xeon(R) Gold 6148 CPU @ 2.40GHz");
    c.xcr0 = 0xE7;
    return c;
}

// Hygon C86 7185 (Dhyana): family 0xF + 0x9 = 0x18.
inline fake_cpu hygon_dhyana() {
    fake_cpu c;
    c.set(0, 0, {0xD, 0x6F677948, 0x656E6975, 0x6E65476E})
        .set(1, 0, {0x00900F01, 0x00800800, 0x7ED8320B, 0x178BFBFF})
        .set(0x80000000u, 0, {0x8000001Fu, 0, 0, 0})
        .brand("Hygon C86 7185 32-core Processor                ");
    return c;
}

} // namespace kestrix::test
