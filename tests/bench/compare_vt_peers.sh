#!/usr/bin/env bash
# Throughput of the VT emulator beside libvterm and libtsm on the four generated streams, each
# fed in 1024-byte chunks into an 80 × 24 screen.
# Usage: compare_vt_peers.sh BUILD_DIR [REPEAT [vt100|classic]]
# Each program runs three times per stream, interleaved; the best run counts.
set -euo pipefail
build=${1:?usage: compare_vt_peers.sh BUILD_DIR [REPEAT [vt100|classic]]}
repeat=${2:-4}
emulation=${3:-vt100}
streams=$(mktemp -d)
trap 'rm -rf "$streams"' EXIT
"$build/bench/qn-vt-streams" "$streams" >/dev/null

mbps() { "$@" | sed -E 's/.*MBps=([0-9.]+).*/\1/'; }
best() { printf '%s\n' "$@" | sort -g | tail -n 1; }

printf '%-11s %10s %10s %10s %8s\n' stream quillnet libvterm libtsm ratio
for name in plain fullscreen cursor linedraw; do
  file="$streams/$name.vt"
  ours=() vterm=() tsm=()
  for _ in 1 2 3; do
    ours+=("$(mbps "$build/bin/quillnet-replay" vt --emulation "$emulation" --bench --chunk 1024 \
      --repeat "$repeat" "$file")")
    vterm+=("$(mbps "$build/bench/qn-peer-vterm" "$file" --chunk 1024 --repeat "$repeat")")
    tsm+=("$(mbps "$build/bench/qn-peer-tsm" "$file" --chunk 1024 --repeat "$repeat")")
  done
  o=$(best "${ours[@]}") v=$(best "${vterm[@]}") t=$(best "${tsm[@]}")
  ratio=$(awk -v o="$o" -v v="$v" -v t="$t" 'BEGIN { p = v > t ? v : t; printf "%.1f", o / p }')
  printf '%-11s %10s %10s %10s %7sx\n' "$name" "$o" "$v" "$t" "$ratio"
done
