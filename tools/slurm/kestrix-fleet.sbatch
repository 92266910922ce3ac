#!/usr/bin/env bash
#SBATCH --job-name=kestrix-fleet
#SBATCH --exclusive
#SBATCH --ntasks-per-node=1
#SBATCH --output=kestrix-fleet-%j.out
# kestrix's standard run on every node of the allocation at the same time, each node writing its
# record into a shared folder named after the job, then the fleet report over that folder:
#   sbatch -N 16 -p PARTITION tools/slurm/kestrix-fleet.sbatch
# Environment (sbatch passes the submitting shell's environment on):
#   KESTRIX_FLEET_DIR   shared folder every node can write (default: kestrix-fleet in the
#                       folder sbatch was called from); records go to $KESTRIX_FLEET_DIR/JOBID
#   KESTRIX_RESULTS     kestrix-results (default: the one on PATH)
#   KESTRIX_SUITE_ARGS  more options for `kestrix-results suite`, e.g. --quick
# The report is $KESTRIX_FLEET_DIR/JOBID/fleet-report.md; the job fails when a node is slow or
# wrote no record.
set -euo pipefail
results=${KESTRIX_RESULTS:-kestrix-results}
out=${KESTRIX_FLEET_DIR:-${SLURM_SUBMIT_DIR:-$PWD}/kestrix-fleet}/$SLURM_JOB_ID
mkdir -p "$out"
read -r -a suite_args <<<"${KESTRIX_SUITE_ARGS:-}"

# One task per node, owning every processor of its node: without --whole, a step inside an
# allocation gets one processor per task, and kestrix would count one core.
status=0
srun --whole --ntasks-per-node=1 --cpu-bind=none \
    bash -c 'exec "$0" suite --out "$1" --label "$SLURMD_NODENAME" "${@:2}"' \
    "$results" "$out" "${suite_args[@]}" || status=$?

nodes=$(scontrol show hostnames "$SLURM_JOB_NODELIST" | paste -sd, -)
"$results" fleet --expect "$nodes" "$out" >"$out/fleet-report.md" || status=$?
echo "fleet report: $out/fleet-report.md"
exit "$status"
