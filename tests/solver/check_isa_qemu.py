#!/usr/bin/env python3
"""Runs the real binary on emulated processors that lack wider instruction sets.

Usage: check_isa_qemu.py QEMU KESTRIX

Every variant the emulated processor has must give a valid run; every variant it lacks must
end cleanly (exit code 0, no signal, the variant's own message, no score), never with an
illegal instruction.
"""
import subprocess
import sys

# (cpu model, isa, workload, expected: "valid" or "refused")
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
]


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    qemu, binary = argv[1], argv[2]
    faults = 0
    for cpu, isa, workload, expected in MATRIX:
        cmd = [qemu, "-cpu", cpu, binary, "-d", "1", "-s", "64", "-n", "1",
               "--harness-sub-runs", "1", "--isa", isa, "--workload", workload]
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
        if expected == "valid":
            if "  valid result " not in out or "final score:" not in out:
                problems.append("no valid result")
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
