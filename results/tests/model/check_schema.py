#!/usr/bin/env python3
"""Every kind of record against docs/record.schema.json with a real JSON-Schema validator
(Debian python3-jsonschema): imports of every complete capture, `run` of each of kestrix's modes,
the version 1 records as the migration writes them, a record of a short run of the real
kestrix-stress and the kestrix-stress records in DATA_DIR/stress (errors found, a run still
going). Records broken on purpose must fail, so that a validator that accepts everything cannot
pass.

usage: check_schema.py KESTRIX_RESULTS KESTRIX DATA_DIR SCHEMA MIGRATED_DIR REPLAYED_DIR
                       KESTRIX_STRESS
(REPLAYED_DIR: the records of recorded machines replayed through KESTRIX_FSROOT)
"""
import copy
import glob
import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    sys.exit("python3-jsonschema is not installed (apt-get install python3-jsonschema)")

results, kestrix, data, schema_path, migrated, replayed, stress = sys.argv[1:8]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)

work = tempfile.mkdtemp(prefix="kx_schema_")
seen = {}  # (source, mode) -> count
failures = []


def check(path):
    with open(path, encoding="utf-8") as f:
        rec = json.load(f)
    errors = sorted(validator.iter_errors(rec), key=lambda e: list(e.absolute_path))
    for e in errors[:3]:
        failures.append(f"{os.path.basename(path)}: {e.json_path}: {e.message[:160]}")
    key = (rec.get("source", rec.get("program")), rec.get("mode"),
           "migrated" if rec.get("migrated_from") else "errors" if rec.get("errors") else "")
    seen[key] = seen.get(key, 0) + 1
    return rec


def quiet(args):
    return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, timeout=240)


for log in sorted(glob.glob(os.path.join(data, "*.log"))):
    if os.path.basename(log) == "truncated.log":
        continue  # refused: nothing written
    out = os.path.join(work, "import")
    r = quiet([results, "import", "--out", out, log])
    if r.returncode not in (0, 1):
        failures.append(f"import {log}: exit {r.returncode}: {r.stderr.strip()}")

runs = [
    ["-d", "1", "-s", "64", "-n", "1", "--harness-sub-runs", "1"],
    ["--bogus"],
    ["--help"],
    ["--topo-debug"],
    ["--timer-debug"],
    ["--harness-var", "size", "--harness-opt", "64-128", "--harness-sub-runs", "0"],
]
for i, args in enumerate(runs):
    out = os.path.join(work, f"run{i}")
    r = quiet([results, "run", "--no-host", "--out", out, "--kestrix", kestrix, "--"] + args)
    if r.returncode not in (0, 1):
        failures.append(f"run {' '.join(args)}: exit {r.returncode}: {r.stderr.strip()}")

# The standard run, on kestrix shortened to 1 s sub-runs by the test wrapper.
r = subprocess.run([results, "suite", "--no-host", "--out", os.path.join(work, "suite"),
                    "--kestrix", os.path.join(data, "short_kestrix.sh")],
                   env=dict(os.environ, KX_REAL_KESTRIX=kestrix), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=240)
if r.returncode != 0:
    failures.append(f"suite: exit {r.returncode}: {r.stderr.strip()}")

os.makedirs(os.path.join(work, "stress"))
stress_run = os.path.join(work, "stress", "short.json")
r = quiet([stress, "--for", "2s", "--slice", "1s", "--isa", "sse2", "--cores", "0",
           "--out", stress_run])
if r.returncode != 0:
    failures.append(f"kestrix-stress: exit {r.returncode}: {r.stderr.strip()}")

records = sorted(glob.glob(os.path.join(work, "*", "*.json")))
records += sorted(glob.glob(os.path.join(data, "stress", "*.json")))
records += sorted(glob.glob(os.path.join(migrated, "*.json")))
replays = sorted(glob.glob(os.path.join(replayed, "*.json"))) if replayed else []
if replayed and not replays:
    failures.append(f"no replayed record in {replayed}")
records += replays
last = with_conditions = None
for path in records:
    rec = check(path)
    if rec.get("mode") == "stress":
        continue
    last = rec
    if last.get("source") == "run" and not last.get("migrated_from") and not last.get("conditions"):
        failures.append(f"{os.path.basename(path)}: a run without its conditions")
    with_conditions = last if last.get("conditions") else with_conditions

want = {("import", m, "") for m in ("benchmark", "topology", "timers", "help", "error")}
want |= {("run", m, "") for m in ("benchmark", "topology", "timers", "help", "error")}
want |= {("import", "benchmark", "migrated"), ("run", "benchmark", "migrated")}
want.add(("run", "suite", ""))
want |= {("kestrix-stress", "stress", ""), ("kestrix-stress", "stress", "errors")}
for key in sorted(want - set(seen), key=str):
    failures.append(f"no record of {key} was checked")

# A run keeps each sub-run's score over time; an import has no arrival times.
timed = [s for path in records for s in json.load(open(path, encoding="utf-8")).get("sub_runs", [])
         if s.get("timeline")]
if not timed:
    failures.append("no run record holds a timeline")
for s in timed:
    t = s["timeline"]
    if not t["points"] or t["summary"]["drift_unavailable"] != "too short":
        failures.append(f"a 1 s run's timeline: {t['points'][:3]}, {t['summary']}")
imported = [path for path in records if "/import/" in path]
if any(s.get("timeline") for path in imported for s in json.load(open(path))["sub_runs"]):
    failures.append("an imported record holds a timeline")

# The validator has teeth: a score that is text and a fact without its source are refused.
broken = copy.deepcopy(last)
broken["sub_runs"] = [{"index": 1, "point": "none", "valid": True, "score": "fast"}]
if validator.is_valid(broken):
    failures.append("a record with a text score passed")
suite = next(json.load(open(p, encoding="utf-8")) for p in records if "_suite" in p)
suite["suite"]["parts"][0]["name"] = "fastest"
if validator.is_valid(suite):
    failures.append("a suite part of another name passed")
broken = copy.deepcopy(last)
broken["system"]["facts"] = {"cpu.vendor": {"value": "AuthenticAMD"}}
if validator.is_valid(broken):
    failures.append("a fact without source or reason passed")
broken = copy.deepcopy(with_conditions)
broken["conditions"]["turbo"] = {"value": True, "source": None, "unavailable": None,
                                 "warning": None}
if validator.is_valid(broken):
    failures.append("a condition without source or reason passed")

if timed:
    broken = copy.deepcopy(last)
    broken["sub_runs"] = [copy.deepcopy(timed[0])]
    broken["sub_runs"][0]["index"] = 1
    broken["sub_runs"][0]["timeline"]["points"] = [[0.5, "fast"]]
    if validator.is_valid(broken):
        failures.append("a timeline point with a text rate passed")

with open(stress_run, encoding="utf-8") as f:
    good = json.load(f)
for what, change in [
    ("a stress record without its cores", lambda d: d.pop("cores")),
    ("a negative time under test", lambda d: d["cores"][0].update(time_under_test_s=-1)),
    ("a first error without its message", lambda d: d["cores"][0].update(
        first_error={"time_s": 1, "kind": "hash mismatch", "cpus": [0], "variant": "sse2",
                     "step": 8})),
    ("a stress record shaped as a run record", lambda d: d.update(mode="benchmark")),
]:
    broken = copy.deepcopy(good)
    change(broken)
    if validator.is_valid(broken):
        failures.append(f"{what} passed")

for f in failures:
    print("FAIL:", f)
print(f"{len(records)} records checked:",
      ", ".join(f"{'/'.join(k for k in key if k)} {n}" for key, n in sorted(seen.items(), key=str)))
sys.exit(1 if failures else 0)
