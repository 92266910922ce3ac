#!/usr/bin/env bash
# The fleet scripts on a real one-node Slurm cluster started here: munged with a temporary key,
# slurmctld and slurmd with a temporary slurm.conf (task/affinity, so that a step bound to one
# processor would show as a one-core record). Submits both forms (one allocation; one job per
# node and a report job after them), waits, checks every record and the reports, and stops
# exactly the daemons it started. Exit 77 (skipped) where it cannot run as root or Slurm is
# not installed.
#   slurm_cluster_test.sh KESTRIX_RESULTS KESTRIX SHORT_KESTRIX_WRAPPER
set -euo pipefail
results=$(realpath "$1")
export KX_REAL_KESTRIX=$(realpath "$2")
wrapper=$(realpath "$3")
root=$(cd "$(dirname "$0")/../.." && pwd)
for tool in munged slurmctld slurmd sbatch scontrol; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (Debian: slurm-wlm, munge)"
        exit 77
    fi
done
if [[ $(id -u) -ne 0 ]]; then
    echo "skipped: starting slurmd and munged needs root"
    exit 77
fi

work=$(mktemp -d /tmp/kx_slurm.XXXXXX)
chmod 755 "$work"
pids=()
stop() {
    local rc=$?
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    if [[ $rc -ne 0 ]]; then
        tail -n 20 "$work"/*.log 2>/dev/null || true
    fi
    rm -rf "$work"
    exit "$rc"
}
trap stop EXIT

node=$(hostname -s)
port=$((20000 + RANDOM % 20000))
mkdir -p "$work/state" "$work/spool" "$work/fleet"
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
    --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed"
pids+=("$(cat "$work/munged.pid")")

# The node as slurmd sees it (processors, sockets, cores, threads, memory).
hardware=$(slurmd -C | head -n 1 | sed 's/^NodeName=[^ ]* //; s/ UpTime=.*//')
cat >"$work/slurm.conf" <<CONF
ClusterName=kxtest
SlurmctldHost=$node
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
SlurmUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmdSpoolDir=$work/spool
StateSaveLocation=$work/state
ProctrackType=proctrack/linuxproc
TaskPlugin=task/affinity
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/backfill
ReturnToService=2
MpiDefault=none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$node $hardware State=UNKNOWN
PartitionName=kx Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
slurmctld -f "$SLURM_CONF"
for _ in $(seq 100); do [[ -s $work/slurmctld.pid ]] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmctld.pid")")
slurmd -f "$SLURM_CONF"
for _ in $(seq 100); do [[ -s $work/slurmd.pid ]] && break; sleep 0.1; done
pids+=("$(cat "$work/slurmd.pid")")
for _ in $(seq 300); do
    [[ $(sinfo -h -n "$node" -o %t 2>/dev/null) == idle ]] && break
    sleep 0.2
done
[[ $(sinfo -h -n "$node" -o %t) == idle ]] || { echo "FAIL: the node never became idle"; exit 1; }

# The suite on the real kestrix, its sub-runs cut to 1 s by the wrapper.
export KESTRIX_RESULTS=$results KESTRIX_FLEET_DIR=$work/fleet
export KESTRIX_SUITE_ARGS="--kestrix $wrapper"
cd "$work"
allocation=$(sbatch --parsable -N 1 "$root/tools/slurm/kestrix-fleet.sbatch")
submitted=$(bash "$root/tools/slurm/submit-fleet.sh" "$node")
echo "submitted: allocation job $allocation; $submitted"
for _ in $(seq 600); do
    [[ -z $(squeue -h -o %i) ]] && break
    sleep 0.5
done
[[ -z $(squeue -h -o %i) ]] || { echo "FAIL: jobs still queued after 300 s"; squeue; exit 1; }

cores=$(lscpu -p=SOCKET,CORE | grep -v '^#' | sort -u | wc -l)
python3 - "$work/fleet" "$cores" "$node" <<'PY'
import glob, json, os, sys
fleet, cores, node = sys.argv[1], int(sys.argv[2]), sys.argv[3]
failures = []
folders = sorted(d for d in glob.glob(os.path.join(fleet, "*")) if os.path.isdir(d))
if len(folders) != 2:
    failures.append(f"expected two record folders (allocation and per-node), found {folders}")
for d in folders:
    records = glob.glob(os.path.join(d, "*.json"))
    if len(records) != 1:
        failures.append(f"{d}: {len(records)} records, expected 1")
    for path in records:
        rec = json.load(open(path))
        parts = {p["name"]: p for p in rec["suite"]["parts"]}
        if rec["label"] != node:
            failures.append(f"{path}: label {rec['label']!r}, expected the node name {node}")
        for name in ("all", "all_baseline"):
            if parts[name]["threads"] != cores:
                failures.append(f"{path}: {name} ran {parts[name]['threads']} threads, "
                                f"this node has {cores} cores")
    report = os.path.join(d, "fleet-report.md")
    text = open(report).read() if os.path.exists(report) else ""
    if "hosts 1, groups 1, slow 0, failed 0." not in text:
        failures.append(f"{report}: {text[:300]!r}")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
PY
echo "slurm fleet test passed"
