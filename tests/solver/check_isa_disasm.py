#!/usr/bin/env python3
"""Guards against the multi-ISA link hazard by reading the machine code.

Usage: check_isa_disasm.py UNITS OBJDUMP NM BINARY [VARIANT_OBJECT...]
           [--apx LLVM_OBJDUMP APX_OBJECT]
       check_isa_disasm.py --self-test

UNITS is the variant table's list of units as the build writes it (variant_units.txt: one
line per unit namespace, its widest vector register in bits and what its code needs).

1. In BINARY, no function outside the variant namespaces holds a VEX or EVEX encoded
   instruction or a mask-register instruction, and every variant function stays within its
   instruction set. Only the kernels (update_h, update_e) may fuse or compute on packed
   values: the energy measures, checks and source injection are scalar and never fused.
2. In each VARIANT_OBJECT, no weak function symbol holds such an instruction: the linker keeps
   one copy of a weak function, and a wide copy would then serve baseline callers too.
3. With --apx: APX_OBJECT (the whole fma-apx unit built for APX; binutils cannot decode APX,
   so LLVM_OBJDUMP reads it) holds APX encodings (REX2 prefix, extended registers r16-r31,
   push2/pop2, new-data-destination and other promoted forms) in its kernels, energy
   measures, workload checks and source injection, and in every other function but those
   APX_OPTIONAL names (printed); stays within its unit's limits otherwise; defines nothing
   outside its namespace and no weak symbol but the personality pointer (data). In BINARY,
   APX code appears in that object's functions and nowhere else, and in no weak function.
"""
import re
import subprocess
import sys



def read_units(text):
    """Variant namespace -> what its code may contain, from the build's list of units."""
    limits = {}
    for line in text.splitlines():
        fields = line.split()
        if not fields:
            continue
        ns, width, needs = fields[0], int(fields[1]), set(fields[2:])
        limits[ns] = dict(vex="avx" in needs, evex="avx512f" in needs, fma="fma" in needs,
                          ymm="avx" in needs and width >= 256, zmm=width >= 512,
                          avx2="avx2" in needs, apx="apx" in needs)
    return limits


LIMITS = {}
BASELINE = dict(vex=False, evex=False, fma=False, ymm=False, zmm=False, avx2=False, apx=False)

LABEL = re.compile(r"^[0-9a-f]+ <(.+)>:$")
VARIANT = None  # kestrix::(one of the units)::, set once the units are known


def set_units(limits):
    global LIMITS, VARIANT
    LIMITS = limits
    VARIANT = re.compile(r"kestrix::(" + "|".join(sorted(limits, key=len, reverse=True)) +
                         r")::")

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


# clang's exact unsigned 64-bit to double conversion without AVX-512: the two halves joined to
# magic exponents, the magic values subtracted as one packed pair (exact), then one scalar sum.
# Not arithmetic on field values.
U64_TO_DOUBLE = (re.compile(r"^v?(punpckldq|unpcklps)\b.*\(%rip\)"),
                 re.compile(r"^v?subpd\b.*\(%rip\)"))

APX_REG = re.compile(r"%r(1[6-9]|2[0-9]|3[01])[dwb]?\b")
APX_MNEMONIC = re.compile(r"^(push2p?|pop2p?|ccmp|ctest|cfcmov|jmpabs)")


def classify(raw, asm):
    """The properties of one instruction: its encoding and what it touches."""
    b = raw.split()
    while b and b[0] in PREFIXES:
        b = b[1:]
    first = b[0] if b else ""
    words = [w for w in asm.split() if not w.startswith("{")]
    mnemonic = words[0] if words else ""
    props = set()
    vector = re.search(r"%[xyz]mm|%k[0-7]", asm)
    if (first == "d5" or APX_REG.search(asm) or APX_MNEMONIC.match(mnemonic) or
            "{nf}" in asm or (first == "62" and not vector)):
        # REX2, an extended register, a new instruction, or an EVEX-promoted legacy form.
        props.add("apx")
        if first in ("62", "d5") and not vector:
            return props
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


def llvm_functions(listing):
    """The same for an llvm-objdump listing (raw bytes, a tab, the instruction)."""
    name, body = None, []
    insn = re.compile(r"^\s*[0-9a-f]+:\s+((?:[0-9a-f]{2} )+)\s*\t(.*)$")
    for line in listing.splitlines():
        m = LABEL.match(line)
        if m:
            if name is not None:
                yield name, body
            name, body = m.group(1), []
            continue
        m = insn.match(line)
        if name is not None and m:
            body.append((m.group(1), " ".join(m.group(2).split())))
    if name is not None:
        yield name, body


def check_listing(listing, where, skip=frozenset(), reader=None):
    faults = []
    for name, body in (reader or functions)(listing):
        if name in skip:
            continue
        m = VARIANT.search(name)
        limits = dict(LIMITS[m.group(1)] if m else BASELINE)
        # Baseline code of the other rooms may be vectorised; variant code only in the kernels
        # of the vector families.
        limits["packed"] = not m or (bool(KERNEL.search(name)) and limits["fma"])
        if m and not KERNEL.search(name):
            limits["fma"] = False
        previous = ""
        for raw, asm in body:
            props = classify(raw, asm)
            if U64_TO_DOUBLE[0].match(previous) and U64_TO_DOUBLE[1].match(asm):
                props.discard("packed")
            previous = asm
            for prop in sorted(props):
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
            wide = classify(raw, asm) & {"vex", "evex", "ymm", "zmm", "apx"}
            if wide:
                faults.append(f"{where}: weak function {name} holds {sorted(wide)[0]} code: {asm}")
                break
    return faults


def apx_functions(listing):
    """The functions of a listing that hold APX code."""
    found = set()
    for name, body in llvm_functions(listing):
        if any("apx" in classify(raw, asm) for raw, asm in body):
            found.add(name)
    return found


# What of the fma-apx unit must be APX code: its kernels, energy measures, workload checks
# and source injection.
APX_REQUIRED = [r"::update_h\(", r"::update_e\(", r"::node_energy\(", r"::total_energy\(",
                r"::standing_wave::post_step\(", r"::standing_wave::validate\(",
                r"::soft_gaussian_base::post_step\(", r"::soft_gaussian_base::pre_step\("]
# Functions of the unit the compiler may leave without APX encodings: too small to want an
# extended register, a paired push and pop or a flag-free form.
APX_OPTIONAL = {
    "apx_code()",
    "standing_wave::pre_step(unsigned long)",
    "soft_gaussian_base::validate(unsigned long)",
    "family_solver::~family_solver() [deleting]",
}
# The one weak symbol an object with cleanups carries: a pointer to the C++ personality
# routine, data that is the same in every object.
PERSONALITY = "DW.ref.__gxx_personality_v0"


def short_name(name):
    """A unit function's name without its namespace and ABI tags, as APX_OPTIONAL has it."""
    name = re.sub(r"^kestrix::fma256_apx::", "", name)
    return name.replace("(anonymous namespace)::", "").replace("[abi:cxx11]", "")


def unit_functions(listing, mangled_listing=None):
    """(name, body) of each function of an llvm-objdump listing of the APX unit; a deleting
    destructor, which demangles like the others, is marked (from the mangled listing)."""
    found = list(llvm_functions(listing))
    if mangled_listing is not None:
        mangled = [name for name, _ in llvm_functions(mangled_listing)]
        if len(mangled) == len(found):
            found = [(name + (" [deleting]" if raw.endswith("D0Ev") else ""), body)
                     for (name, body), raw in zip(found, mangled)]
    return found


def check_apx(unit, binary_listing, binary_weak, where_object, where_binary):
    """unit: dict(listing, mangled (or None), symbols: [(nm type, name)]). Returns the faults
    and the unit's functions without APX code."""
    listing = unit["listing"]
    faults = check_listing(listing, where_object, reader=llvm_functions)
    functions_ = unit_functions(listing, unit.get("mangled"))
    names = {name for name, _ in llvm_functions(listing)}
    with_apx = apx_functions(listing)
    if not with_apx:
        faults.append(f"{where_object}: no APX instruction in the APX unit")
    for pattern in APX_REQUIRED:
        matched = [name for name, _ in functions_ if re.search(pattern, "::" + short_name(name))]
        if not matched:
            faults.append(f"{where_object}: no function matches {pattern} in the APX unit")
    without = []
    for name, body in functions_:
        if any("apx" in classify(raw, asm) for raw, asm in body):
            continue
        without.append(short_name(name))
        if any(re.search(p, "::" + short_name(name)) for p in APX_REQUIRED):
            faults.append(f"{where_object}: {name} holds no APX instruction")
        elif short_name(name) not in APX_OPTIONAL:
            faults.append(f"{where_object}: {name} holds no APX instruction and is not "
                          "among the functions allowed without")
    for kind, name in unit["symbols"]:
        if kind in ("W", "V", "u", "w", "v") and name != PERSONALITY:
            faults.append(f"{where_object}: weak symbol {name} in the APX unit")
        elif not name.startswith(".") and "fma256_apx::" not in name and name != PERSONALITY \
                and not name.startswith("GCC_except_table"):
            faults.append(f"{where_object}: {name} defined in the APX unit, outside its "
                          "namespace")
    in_binary = apx_functions(binary_listing)
    for name in sorted(in_binary - names):
        faults.append(f"{where_binary}: APX code outside the APX unit: {name}")
    for name in sorted(in_binary & binary_weak):
        faults.append(f"{where_binary}: weak function {name} holds APX code")
    if not with_apx & in_binary:
        faults.append(f"{where_binary}: the APX unit's code is not in the binary")
    return faults, sorted(without)


def run(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def defined_symbols(nm, obj):
    """(nm type, demangled name) of every symbol the file defines."""
    found = []
    for line in run(nm, "-C", "--defined-only", obj).splitlines():
        fields = line.split(" ", 2)
        if len(fields) == 3:
            found.append((fields[1], fields[2]))
    return found


def weak_symbols(nm, obj):
    return {name for kind, name in defined_symbols(nm, obj) if kind in ("W", "V", "u")}


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    args = argv[1:]
    apx = None
    if "--apx" in args:
        at = args.index("--apx")
        apx = args[at + 1:at + 3]
        args = args[:at] + args[at + 3:]
    if len(args) < 4 or (apx is not None and len(apx) != 2):
        print(__doc__, file=sys.stderr)
        return 2
    with open(args[0]) as f:
        set_units(read_units(f.read()))
    objdump, nm, binary, objects = args[1], args[2], args[3], args[4:]
    skip = set()
    if apx:
        llvm_objdump, apx_object = apx
        apx_listing = run(llvm_objdump, "-d", "-C", apx_object)
        skip = {name for name, _ in llvm_functions(apx_listing)}
    listing = run(objdump, "-d", "-C", "--insn-width=16", binary)
    faults = check_listing(listing, binary, skip)
    seen = set()
    for name, _ in functions(listing):
        m = VARIANT.search(name)
        if m:
            seen.add(m.group(1))
    for family in LIMITS:
        if family not in seen:
            faults.append(f"{binary}: no code of variant namespace {family} found")
    for obj in objects:
        weak = weak_symbols(nm, obj)
        faults += check_weak(run(objdump, "-d", "-C", "--insn-width=16", obj), weak, obj)
    if apx:
        unit = dict(listing=apx_listing, mangled=run(llvm_objdump, "-d", apx_object),
                    symbols=defined_symbols(nm, apx_object))
        apx_faults, without = check_apx(unit, run(llvm_objdump, "-d", "-C", binary),
                                        weak_symbols(nm, binary), apx_object, binary)
        faults += apx_faults
        total = len(unit_functions(apx_listing))
        print(f"APX unit: {total - len(without)} of {total} functions hold APX code; without: "
              + ("; ".join(without) if without else "none"))
    for f in faults:
        print(f)
    print(f"{len(faults)} fault(s)")
    return 1 if faults else 0


def self_test():
    """The checker itself must catch each kind of fault."""
    set_units(read_units("scalar_sse2 128\nscalar_avx 256 avx_state avx\n"
                         "avx2 256 avx_state avx avx2\nfma256 256 avx_state avx avx2 fma\n"
                         "fma256_apx 256 avx_state avx avx2 fma apx_state apx\n"
                         "avx512_256 256 avx_state avx avx2 fma avx512_state avx512f avx512vl\n"
                         "avx512_512 512 avx_state avx avx2 fma avx512_state avx512f\n"))
    def objdump_text(functions_, line):
        """A disassembly of (name, instructions) pairs, each instruction line in the given form."""
        lines = []
        for name, insns in functions_:
            lines.append(f"0000000000001000 <{name}>:")
            lines.extend(line.format(raw=raw, asm=asm) for raw, asm in insns)
        return "\n".join(lines) + "\n"

    def listing(name, *insns):  # GNU objdump
        return objdump_text([(name, insns)], "  1000:\t{raw}\t{asm}")

    def llvm_listing(*functions_):  # llvm-objdump
        return objdump_text(functions_, "    1000: {raw} \t{asm}")

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
    ndd = ("62 54 bc 1c 01 c8", "{nf}\taddq\t%rcx, %r8, %rdx")
    rex2 = ("d5 19 01 c8", "addq\t%r9, %r16")
    push2 = ("62 f4 64 18 ff f6", "push2p\t%r14, %rbx")
    llvm_fma = ("c4 e2 f5 a8 c2", "vfmadd213pd\t%ymm2, %ymm1, %ymm0")
    ns = "kestrix::fma256_apx::"
    kernel = ns + "update_h(kestrix::field_grid&)"
    energy = ns + "total_energy(kestrix::field_grid const&)"
    injection = ns + "(anonymous namespace)::soft_gaussian_base::pre_step[abi:cxx11](unsigned long)"
    step = ns + "family_solver::step[abi:cxx11]()"
    small = (ns + "apx_code()", [("b8 01 00 00 00", "movl\t$0x1, %eax")])
    plain = ("48 01 c8", "addq\t%rcx, %rax")
    to_double = [("c5 f9 62 05 00 00 00 00", "vpunpckldq\t(%rip), %xmm0, %xmm0"),
                 ("c5 f9 5c 05 00 00 00 00", "vsubpd\t(%rip), %xmm0, %xmm0")]
    # A unit that passes: every required function with APX code, one small one without.
    good = [(kernel, [ndd, llvm_fma]), (ns + "update_e(kestrix::field_grid&)", [ndd, llvm_fma]),
            (ns + "node_energy(kestrix::field_grid const&, unsigned long, unsigned long, "
             "unsigned long)", [rex2]), (energy, [rex2, push2]),
            (ns + "standing_wave::post_step[abi:cxx11](unsigned long)", [rex2]),
            (ns + "standing_wave::validate[abi:cxx11](unsigned long)", [push2]),
            (ns + "(anonymous namespace)::soft_gaussian_base::post_step[abi:cxx11](unsigned long)",
             [rex2]), (injection, [rex2] + to_double), (step, [push2]), small]

    def unit(functions_, symbols=(), mangled=None):
        return dict(listing=llvm_listing(*functions_), symbols=list(symbols),
                    mangled=None if mangled is None else llvm_listing(*mangled))

    def but(name, body):  # the good unit with one function replaced, or dropped (None)
        return [(n, body if n == name else b) for n, b in good if n != name or body is not None]

    good_binary = llvm_listing(*good)
    dtor = ns + "family_solver::~family_solver()"
    mangled_dtors = [("_ZN7kestrix10fma256_apx13family_solverD2Ev", []),
                     ("_ZN7kestrix10fma256_apx13family_solverD0Ev", [])]
    apx_cases = [
        (unit(good, [("T", kernel), ("V", "DW.ref.__gxx_personality_v0"),
                     ("r", ".LCPI0_0"), ("V", "typeinfo for " + ns + "standing_wave")]),
         good_binary, set(), 1),  # a weak typeinfo
        (unit(good), good_binary, set(), 0),
        (unit(good, [("W", "std::string::_M_create()")]), good_binary, set(), 1),
        (unit(good, [("T", "std::vector<double>::~vector()")]), good_binary, set(), 1),
        (unit(but(energy, [plain])), good_binary, set(), 1),
        (unit(but(small[0], [plain, push2])), good_binary, set(), 0),
        (unit(good + [(ns + "new_standing_wave(unsigned int)", [plain])]), good_binary, set(), 1),
        (unit(but(ns + "update_e(kestrix::field_grid&)", None)),
         llvm_listing(*but(ns + "update_e(kestrix::field_grid&)", None)), set(), 1),
        (unit(good), good_binary + llvm_listing(("kestrix::run()", [rex2])), set(), 1),
        (unit(good), llvm_listing(small), set(), 1),
        (unit(good), good_binary, {kernel}, 1),
        (unit(but(kernel, [ndd, ("62 f1 fd 48 10 06", "vmovupd\t(%rsi), %zmm0")])), good_binary,
         set(), 1),
        (unit(but(energy, [rex2, llvm_fma])), good_binary, set(), 1),
        (unit(but(injection, [rex2, to_double[1]])), good_binary, set(), 1),
        (unit(but(step, [push2, ("c5 fd 58 c1", "vaddpd\t%ymm1, %ymm0, %ymm0")])), good_binary,
         set(), 1),
        (unit(good + [(dtor, [push2]), (dtor, [plain])], mangled=good + mangled_dtors),
         good_binary, set(), 0),
        (unit(good + [(dtor, [plain]), (dtor, [push2])], mangled=good + mangled_dtors),
         good_binary, set(), 1),
    ]
    for index, (obj, binary, binary_weak, want) in enumerate(apx_cases):
        faults = check_apx(obj, binary, binary_weak, "object", "binary")[0]
        got = len(faults)
        if got != want:
            failed += 1
            print(f"self-test: APX case {index} wants {want} fault(s), got {got}: {faults}")
    if check_listing(llvm_listing(("kestrix::fma256::update_h(kestrix::field_grid&)", [ndd])),
                     "case", reader=llvm_functions) == []:
        failed += 1
        print("self-test: APX code in the fma family went unnoticed")
    print("self-test " + ("failed" if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
