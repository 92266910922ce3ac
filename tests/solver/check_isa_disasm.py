#!/usr/bin/env python3
"""Guards against the multi-ISA link hazard by reading the machine code.

Usage: check_isa_disasm.py OBJDUMP NM BINARY [VARIANT_OBJECT...]
       check_isa_disasm.py --self-test

1. In BINARY, no function outside the variant namespaces holds a VEX or EVEX encoded
   instruction or a mask-register instruction, and every variant function stays within its
   instruction set. Only the kernels (update_h, update_e) may fuse or compute on packed
   values: the energy measures, checks and source injection are scalar and never fused.
2. In each VARIANT_OBJECT, no weak function symbol holds such an instruction: the linker keeps
   one copy of a weak function, and a wide copy would then serve baseline callers too.
"""
import re
import subprocess
import sys

# Variant namespace -> what its code may contain.
LIMITS = {
    "scalar_sse2": dict(vex=False, evex=False, fma=False, ymm=False, zmm=False, avx2=False),
    "scalar_avx": dict(vex=True, evex=False, fma=False, ymm=True, zmm=False, avx2=False),
    "avx2": dict(vex=True, evex=False, fma=False, ymm=True, zmm=False, avx2=True),
    "fma256": dict(vex=True, evex=False, fma=True, ymm=True, zmm=False, avx2=True),
    "fma256_apx": dict(vex=True, evex=False, fma=True, ymm=True, zmm=False, avx2=True),
    "avx512_256": dict(vex=True, evex=True, fma=True, ymm=True, zmm=False, avx2=True),
    "avx512_512": dict(vex=True, evex=True, fma=True, ymm=True, zmm=True, avx2=True),
}
BASELINE = dict(vex=False, evex=False, fma=False, ymm=False, zmm=False, avx2=False)

LABEL = re.compile(r"^[0-9a-f]+ <(.+)>:$")
VARIANT = re.compile(r"kestrix::(" + "|".join(LIMITS) + r")::")
PREFIXES = {"26", "2e", "36", "3e", "64", "65", "67"}
FMA = re.compile(r"^vf(n)?m(add|sub|addsub|subadd)")
PACKED_ARITH = re.compile(r"^v?(add|sub|mul|div|min|max|sqrt|hadd|hsub|addsub)p[sd]$")
KERNEL = re.compile(r"::update_[he]\(")
MASK_OP = re.compile(r"^k(mov|and|or|xor|xnor|not|shift|test|ortest|add|unpck)")
BMI = {"andn", "bextr", "blsi", "blsmsk", "blsr", "bzhi", "mulx", "pdep", "pext", "rorx",
       "sarx", "shlx", "shrx"}
# 256-bit forms that AVX already has among the vp* mnemonics.
AVX1_VP = {"vptest", "vpermilpd", "vpermilps", "vperm2f128"}
AVX2_ONLY = {"vpermpd", "vpermq", "vperm2i128", "vinserti128", "vextracti128", "vpblendd",
             "vbroadcasti128", "vpmaskmovd", "vpmaskmovq", "vpsllvd", "vpsllvq", "vpsrlvd",
             "vpsrlvq", "vpsravd"}


def classify(raw, asm):
    """The properties of one instruction: its encoding and what it touches."""
    b = raw.split()
    while b and b[0] in PREFIXES:
        b = b[1:]
    first = b[0] if b else ""
    mnemonic = asm.split()[0] if asm.split() else ""
    props = set()
    if first in ("c4", "c5") or mnemonic in BMI:
        props.add("vex")
    if first == "62" or MASK_OP.match(mnemonic) or re.search(r"%k[0-7]", asm):
        props.add("evex")
    if re.search(r"%[xy]mm(1[6-9]|2[0-9]|3[01])\b", asm):
        props.add("evex")
    if FMA.match(mnemonic):
        props.add("fma")
    if PACKED_ARITH.match(mnemonic) or (FMA.match(mnemonic) and "p" in mnemonic[-2:]):
        props.add("packed")
    if "%ymm" in asm:
        props.add("ymm")
    if "%zmm" in asm:
        props.add("zmm")
    if mnemonic in AVX2_ONLY or mnemonic.startswith(("vpgather", "vgather")):
        props.add("avx2")
    elif mnemonic.startswith("vp") and "%ymm" in asm and mnemonic not in AVX1_VP:
        props.add("avx2")
    elif mnemonic.startswith("vpbroadcast") or (
            mnemonic.startswith("vbroadcasts") and re.search(r"%xmm\d+,", asm)):
        props.add("avx2")
    return props


def functions(listing):
    """Yields (name, [(raw bytes, assembly)]) for every function of an objdump listing."""
    name, body = None, []
    for line in listing.splitlines():
        m = LABEL.match(line)
        if m:
            if name is not None:
                yield name, body
            name, body = m.group(1), []
            continue
        parts = line.split("\t")
        if name is not None and len(parts) >= 3 and parts[0].strip().endswith(":"):
            body.append((parts[1], "\t".join(parts[2:]).strip()))
    if name is not None:
        yield name, body


def check_listing(listing, where):
    faults = []
    for name, body in functions(listing):
        m = VARIANT.search(name)
        limits = dict(LIMITS[m.group(1)] if m else BASELINE)
        # Baseline code of the other rooms may be vectorised; variant code only in the kernels
        # of the vector families.
        limits["packed"] = not m or (bool(KERNEL.search(name)) and limits["fma"])
        if m and not KERNEL.search(name):
            limits["fma"] = False
        for raw, asm in body:
            for prop in sorted(classify(raw, asm)):
                if not limits[prop]:
                    family = m.group(1) if m else "baseline code"
                    faults.append(f"{where}: {name} ({family}): {prop} instruction: {asm}")
                    break
            else:
                continue
            break
    return faults


def check_weak(listing, weak_names, where):
    faults = []
    for name, body in functions(listing):
        if name not in weak_names:
            continue
        for raw, asm in body:
            wide = classify(raw, asm) & {"vex", "evex", "ymm", "zmm"}
            if wide:
                faults.append(f"{where}: weak function {name} holds {sorted(wide)[0]} code: {asm}")
                break
    return faults


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, nm, binary, objects = argv[1], argv[2], argv[3], argv[4:]
    faults = check_listing(run(objdump, "-d", "-C", "--insn-width=16", binary), binary)
    seen = set()
    for name, _ in functions(run(objdump, "-d", "-C", "--insn-width=16", binary)):
        m = VARIANT.search(name)
        if m:
            seen.add(m.group(1))
    for family in LIMITS:
        if family not in seen:
            faults.append(f"{binary}: no code of variant namespace {family} found")
    for obj in objects:
        weak = set()
        for line in run(nm, "-C", "--defined-only", obj).splitlines():
            fields = line.split(" ", 2)
            if len(fields) == 3 and fields[1] in ("W", "V"):
                weak.add(fields[2])
        faults += check_weak(run(objdump, "-d", "-C", "--insn-width=16", obj), weak, obj)
    for f in faults:
        print(f)
    print(f"{len(faults)} fault(s)")
    return 1 if faults else 0


def self_test():
    """The checker itself must catch each kind of fault."""
    def listing(name, *insns):
        lines = [f"0000000000001000 <{name}>:"]
        for raw, asm in insns:
            lines.append(f"  1000:\t{raw}\t{asm}")
        return "\n".join(lines) + "\n"

    vex_mov = ("c5 fd 10 06", "vmovupd (%rsi),%ymm0")
    sse_add = ("f2 0f 58 c1", "addsd  %xmm1,%xmm0")
    fma = ("c4 e2 f5 a8 c2", "vfmadd213pd %ymm2,%ymm1,%ymm0")
    zmm = ("62 f1 fd 48 10 06", "vmovupd (%rsi),%zmm0")
    evex_ymm = ("62 f2 f5 28 7f c2", "vpermt2pd %ymm2,%ymm1,%ymm0")
    vpermpd = ("c4 e3 fd 01 c0 a6", "vpermpd $0xa6,%ymm0,%ymm0")
    cases = [
        (listing("kestrix::fma256::update_h(kestrix::field_grid&)", vex_mov, fma), 0),
        (listing("kestrix::scalar_sse2::update_h(kestrix::field_grid&)", sse_add), 0),
        (listing("std::vector<double>::_M_realloc_insert()", vex_mov), 1),
        (listing("kestrix::scalar_sse2::total_energy()", vex_mov), 1),
        (listing("kestrix::scalar_avx::update_e(kestrix::field_grid&)", fma), 1),
        (listing("kestrix::scalar_avx::update_e(kestrix::field_grid&)", vpermpd), 1),
        (listing("kestrix::fma256::update_e(kestrix::field_grid&)", evex_ymm), 1),
        (listing("kestrix::avx512_256::update_e(kestrix::field_grid&)", evex_ymm), 0),
        (listing("kestrix::avx512_256::update_e(kestrix::field_grid&)", zmm), 1),
        (listing("kestrix::avx512_512::update_e(kestrix::field_grid&)", zmm, fma), 0),
        (listing("kestrix::avx2::x()", ("c4 e2 78 f2 c1", "andn %ecx,%eax,%eax")), 0),
        (listing("kestrix::fma256::total_energy(kestrix::field_grid const&)", fma), 1),
        (listing("kestrix::fma256::total_energy(kestrix::field_grid const&)",
                 ("c5 fd 58 c1", "vaddpd %ymm1,%ymm0,%ymm0")), 1),
        (listing("kestrix::scalar_sse2::total_energy(kestrix::field_grid const&)",
                 ("66 0f 58 c1", "addpd  %xmm1,%xmm0")), 1),
        (listing("kestrix::scalar_sse2::update_e(kestrix::field_grid&)",
                 ("66 0f 58 c1", "addpd  %xmm1,%xmm0")), 1),
        (listing("kestrix::fma256::update_e(kestrix::field_grid&)",
                 ("c5 fd 58 c1", "vaddpd %ymm1,%ymm0,%ymm0")), 0),
        (listing("kestrix::console::write()", ("66 0f 58 c1", "addpd  %xmm1,%xmm0")), 0),
        (listing("kestrix::run()", ("c4 e2 78 f2 c1", "andn %ecx,%eax,%eax")), 1),
    ]
    failed = 0
    for text, want in cases:
        got = len(check_listing(text, "case"))
        if got != want:
            failed += 1
            print(f"self-test: want {want} fault(s), got {got}:\n{text}")
    weak = listing("std::string::_M_create()", vex_mov)
    if len(check_weak(weak, {"std::string::_M_create()"}, "case")) != 1:
        failed += 1
        print("self-test: a weak function with VEX code went unnoticed")
    if check_weak(weak, set(), "case"):
        failed += 1
        print("self-test: a strong function was taken for a weak one")
    print("self-test " + ("failed" if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
