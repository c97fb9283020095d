#!/usr/bin/env bash
# One movie made in N parts by a Slurm job array, joined by a second job
# that Slurm starts only when every part has ended well.
#   contrib/slurm-parts.sh N OUTPUT.mov MAKE-OPTIONS... IMAGES
# Run it in a folder that every node shares, with moirevance on each node's
# PATH; it prints the two job ids. Slurm requeues and retries as it is set
# up to: a part is whole or absent, so running one again is safe.
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,8p' "$0"; exit 2; }
n=$1 out=$2
shift 2
parts=$(mktemp -d "$(pwd)/.moirevance-parts.XXXXXX")
args=$(printf ' %q' "$@")
array=$(sbatch --parsable --array=1-"$n" --job-name=moirevance-part --output="$parts/part-%a.log" \
  --wrap "moirevance make$args --segment \$SLURM_ARRAY_TASK_ID/$n -o $parts/part-\$SLURM_ARRAY_TASK_ID.mov")
join=$(sbatch --parsable --dependency=afterok:"$array" --job-name=moirevance-join --output="$parts/join.log" \
  --wrap "moirevance append -o $(printf %q "$out") $parts/part-*.mov && rm -f $parts/part-*")
echo "$array $join"
