#!/usr/bin/env bash
# One movie made in N parts by GNU Parallel on the machines that share the
# current folder, then joined here by copying.
#   contrib/parallel-parts.sh N OUTPUT.mov HOSTS MAKE-OPTIONS... IMAGES
# HOSTS is Parallel's --sshlogin list: "2/:,4/alice@box1,4/box2" runs two
# parts at a time here (":") and four on each of box1 and box2. Every host
# needs moirevance on its PATH and this folder at the same path. Parallel
# retries a failed part once (a part is whole or absent, so a retry is
# safe) and stops the job when a part fails twice.
set -euo pipefail
[ $# -ge 4 ] || { sed -n '2,10p' "$0"; exit 2; }
n=$1 out=$2 hosts=$3
shift 3
dir=$(pwd)
parts=$(mktemp -d "$dir/.moirevance-parts.XXXXXX")
trap 'rm -rf "$parts"' EXIT
parallel -q --sshlogin "$hosts" --workdir "$dir" --retries 2 --halt now,fail=1 \
  moirevance make "$@" --segment "{}/$n" -o "$parts/part-{}.mov" ::: $(seq "$n")
moirevance append -o "$out" "$parts"/part-*.mov
