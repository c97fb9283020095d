#!/usr/bin/env bash
# contrib/slurm-parts.sh on a one-node Slurm cluster started here, from
# Debian's slurm-wlm and munge: a munge key of its own, slurmctld and slurmd,
# all under a temporary folder and stopped at the end. Makes a movie as an
# array of 4 parts and the dependent join, and compares its frames with the
# movie made whole. Run as root (the daemons run as the caller).
#   bench/slurm.sh [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}/slurm
rm -rf "$work" && mkdir -p "$work"/{state,spool,log,pics,bin}
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
ln -s "$root/build/moirevance" "$work/bin/moirevance"
export PATH=$work/bin:$PATH

# The cluster: its own munge key and socket, a node named after this host.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --key-file="$work/munge.key" --socket="$work/munge.sock" --pid-file="$work/munged.pid" \
  --log-file="$work/log/munged.log" --seed-file="$work/munge.seed" --force
host=$(hostname -s)
cat >"$work/slurm.conf" <<CONF
ClusterName=moirevance
SlurmctldHost=$host
SlurmUser=$(id -un)
SlurmdUser=$(id -un)
AuthType=auth/munge
AuthInfo=socket=$work/munge.sock
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
SlurmctldPort=26817
SlurmdPort=26818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
stop() {
  [ -f "$work/slurmd.pid" ] && kill "$(cat "$work/slurmd.pid")" 2>/dev/null || true
  [ -f "$work/slurmctld.pid" ] && kill "$(cat "$work/slurmctld.pid")" 2>/dev/null || true
  [ -f "$work/munged.pid" ] && kill "$(cat "$work/munged.pid")" 2>/dev/null || true
}
trap stop EXIT
slurmctld -i
slurmd
for _ in $(seq 50); do sinfo -h -o %T 2>/dev/null | grep -q idle && break; sleep 0.2; done
sinfo

# 24 pictures, the movie made whole, then as 4 parts and the join.
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=10 -frames:v 24 "$work/pics/shot_%02d.png"
cd "$work"
job=(--codec tiff --size 100% --tween 1 --deflicker --skip-verify pics)
moirevance make "${job[@]}" -o whole.mov >/dev/null
start=$(date +%s.%N)
read -r array joinjob < <("$root/contrib/slurm-parts.sh" 4 joined.mov "${job[@]}")
echo "array job $array, join job $joinjob"
while squeue -h -j "$array,$joinjob" 2>/dev/null | grep -q .; do sleep 0.5; done
echo "parts and join: $(echo "$(date +%s.%N) - $start" | bc) s"
sacct -j "$array,$joinjob" 2>/dev/null || true
a=$(ffmpeg -v error -i whole.mov -f rawvideo -pix_fmt rgb24 - | md5sum)
b=$(ffmpeg -v error -i joined.mov -f rawvideo -pix_fmt rgb24 - | md5sum)
echo "whole: $a"
echo "joined: $b"
[ "$a" = "$b" ] && echo "the joined movie's frames are the whole movie's" || { echo "frames differ"; exit 1; }
