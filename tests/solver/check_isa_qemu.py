#!/usr/bin/env python3
"""Runs the real binary on emulated processors that lack wider instruction sets.

Usage: check_isa_qemu.py QEMU KESTRIX [--apx-build]

Every variant the emulated processor has must give a valid run; every variant it lacks must
end cleanly (exit code 0, no signal, the variant's own message, no score), never with an
illegal instruction. A variant whose workload class needs less than the support check tests
(avx2's standing wave is the avx class) runs on after the support warning. --apx-build: the
fma-apx family is APX code, so no emulated processor (none has APX) and no host without APX
may run it; the stand-in runs wherever fma does, after its warning.
"""
import subprocess
import sys

# (cpu model or "host", isa, workload, expected: "valid", "warned" (valid after the support
# warning), "refused", or "apx" (refused in an APX build, warned otherwise))
MATRIX = [
    ("Westmere", "sse2", "standing_wave", "valid"),
    ("Westmere", "sse2", "soft_gaussian", "valid"),
    ("Westmere", "avx", "standing_wave", "refused"),
    ("Westmere", "fma", "soft_gaussian", "refused"),
    ("Westmere", "avx512f", "standing_wave", "refused"),
    ("Haswell", "avx", "standing_wave", "valid"),
    ("Haswell", "avx", "soft_gaussian", "valid"),
    ("Haswell", "avx2", "standing_wave", "valid"),
    ("Haswell", "avx2", "soft_gaussian", "valid"),
    ("Haswell", "fma", "standing_wave", "valid"),
    ("Haswell", "fma", "soft_gaussian", "valid"),
    ("Haswell", "avx512f", "soft_gaussian", "refused"),
    ("SandyBridge", "avx", "standing_wave", "valid"),
    ("SandyBridge", "avx2", "standing_wave", "warned"),
    ("SandyBridge", "avx2", "soft_gaussian", "refused"),
    ("SandyBridge", "fma", "standing_wave", "refused"),
    ("Westmere", "fma-apx", "standing_wave", "refused"),
    ("SandyBridge", "fma-apx", "soft_gaussian", "refused"),
    ("Haswell", "fma-apx", "standing_wave", "apx"),
    ("Haswell", "fma-apx", "soft_gaussian", "apx"),
    ("max", "fma-apx", "soft_gaussian", "apx"),
    ("host", "fma-apx", "standing_wave", "apx"),
]


def host_has_apx():
    try:
        with open("/proc/cpuinfo") as f:
            return any(line.startswith("flags") and " apx" in line for line in f)
    except OSError:
        return False


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and argv[3] != "--apx-build"):
        print(__doc__, file=sys.stderr)
        return 2
    qemu, binary, apx_build = argv[1], argv[2], len(argv) == 4
    faults = 0
    for cpu, isa, workload, expected in MATRIX:
        if expected == "apx":
            expected = "refused" if apx_build else "warned"
        if cpu == "host" and (not apx_build or host_has_apx()):
            continue
        cmd = [binary] if cpu == "host" else [qemu, "-cpu", cpu, binary]
        cmd += ["-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1", "--isa", isa,
                "--workload", workload]
        try:
            p = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        except subprocess.TimeoutExpired:
            print(f"FAIL {cpu} {isa} {workload}: no end within 300 s")
            faults += 1
            continue
        out = p.stdout.decode(errors="replace")
        err = p.stderr.decode(errors="replace")
        problems = []
        if p.returncode < 0:
            problems.append(f"ended by signal {-p.returncode}")
        elif p.returncode != 0:
            problems.append(f"exit code {p.returncode}")
        if expected in ("valid", "warned"):
            if "  valid result " not in out or "final score:" not in out:
                problems.append("no valid result")
            if (expected == "warned") != ("support not detected" in err):
                problems.append("support warning " + ("missing" if expected == "warned"
                                                       else "unexpected"))
        else:
            if "its code needs" not in err:
                problems.append("no message naming what the variant's code needs")
            if "final score:" in out:
                problems.append("a score for a variant that cannot run")
        status = "FAIL" if problems else "ok"
        print(f"{status} {cpu} {isa} {workload} ({expected}){': ' if problems else ''}"
              f"{'; '.join(problems)}")
        if problems:
            faults += 1
            print(err[-2000:])
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
