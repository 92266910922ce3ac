#!/usr/bin/env bash
# For fleets larger than one allocation: one standard-run job per node (sbatch -w NODE), and a
# report job that starts when all of them have ended, whatever their outcome.
#   tools/slurm/submit-fleet.sh [-p PARTITION] NODE...   (NODE may be a Slurm host list)
# The records go to $KESTRIX_FLEET_DIR/fleet-SUBMITTIME (default: kestrix-fleet beside the
# folder this is called from); KESTRIX_RESULTS and KESTRIX_SUITE_ARGS as in kestrix-fleet.sbatch.
set -euo pipefail
partition=()
if [[ ${1:-} == -p ]]; then
    partition=(-p "$2")
    shift 2
fi
if [[ $# -eq 0 ]]; then
    echo "usage: $0 [-p PARTITION] NODE..." >&2
    exit 2
fi
results=${KESTRIX_RESULTS:-kestrix-results}
out=${KESTRIX_FLEET_DIR:-$PWD/kestrix-fleet}/fleet-$(date -u +%Y%m%dT%H%M%SZ)
mkdir -p "$out"
mapfile -t nodes < <(scontrol show hostnames "$(IFS=,; echo "$*")")
read -r -a suite_args <<<"${KESTRIX_SUITE_ARGS:-}"
quoted=$(printf ' %q' "${suite_args[@]}")

jobs=()
for node in "${nodes[@]}"; do
    jobs+=("$(sbatch --parsable "${partition[@]}" -w "$node" -N 1 --exclusive \
        --ntasks-per-node=1 --job-name="kestrix-$node" --output="$out/slurm-%j.out" \
        --wrap="srun --whole --ntasks-per-node=1 --cpu-bind=none $(printf %q "$results") suite \
--out $(printf %q "$out") --label $(printf %q "$node")$quoted")")
done
dependency=afterany:$(IFS=:; echo "${jobs[*]}")
report=$(sbatch --parsable "${partition[@]}" -N 1 --dependency="$dependency" \
    --job-name=kestrix-fleet-report --output="$out/slurm-%j.out" \
    --wrap="$(printf %q "$results") fleet --expect $(IFS=,; echo "${nodes[*]}") \
$(printf %q "$out") > $(printf %q "$out/fleet-report.md")")
echo "jobs ${jobs[*]}; report job $report writes $out/fleet-report.md"
