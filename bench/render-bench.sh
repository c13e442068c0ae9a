#!/usr/bin/env bash
# camsys render's speed on the example flying through its town: 1280x720 and 1920x1080 as H.264,
# 1280x720 as PNG frames and as VP9, each the median of ROUNDS runs (by the whole run's time,
# start-up included) with the processor time Chromium used, and where the page's time went in one
# more run with --timings (each stage waiting for the one before).
#   bench/render-bench.sh [CAMSYS] [ROUNDS]      (defaults: build/cli/camsys, 3)
# Prints a Markdown table for the README. Run it on a quiet machine: the frames are drawn by a
# software renderer that takes every core it can get.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
camsys=${1:-$here/build/cli/camsys}
rounds=${2:-3}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$here/examples/flythrough.json" "$here/examples/town.glb" "$scratch/"

# The median of ROUNDS runs of one case: "WALL FPS CPU", the whole command's time (loading,
# Chromium's start and stop included), the frames a second over it, and Chromium's processor time
# from the summary ("... N frames in W s (F frames/s; Chromium's processor time C s)").
median_run() {
  local output=$1; shift
  for ((r = 0; r < rounds; ++r)); do
    rm -rf "${scratch:?}/$output"
    local began ended summary
    began=$(date +%s.%N)
    summary=$("$camsys" render "$scratch/flythrough.json" -o "$scratch/$output" "$@" 2>&1 | grep 'camsys render: wrote')
    ended=$(date +%s.%N)
    sed -E 's/.* ([0-9]+) frames in [0-9.]+ s \([0-9.]+ frames\/s; Chromium.s processor time ([0-9.]+) s\)/\1 \2/' <<<"$summary" |
      awk -v b="$began" -v e="$ended" '{ w = e - b; printf "%.1f %.1f %s\n", w, $1 / w, $2 }'
  done | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

# One run with --timings: "RENDER READBACK ENCODE TRANSFER" (s) from its second line.
split_run() {
  local output=$1; shift
  rm -rf "${scratch:?}/$output"
  "$camsys" render "$scratch/flythrough.json" -o "$scratch/$output" --timings "$@" 2>&1 | grep 'on the page' |
    sed -E 's/.*render ([0-9.]+) s, read-back ([0-9.]+) s, encode ([0-9.]+) s, transfer ([0-9.]+) s/\1 \2 \3 \4/'
}

echo "| output | whole run | frames/s | Chromium's processor time | with --timings: render | read-back | encode | transfer |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
while read -r name output args; do
  # shellcheck disable=SC2086
  read -r wall fps cpu < <(median_run "$output" $args)
  # shellcheck disable=SC2086
  read -r render readback encode transfer < <(split_run "$output" $args)
  echo "| ${name//_/ } | $wall s | $fps | $cpu s | $render s | $readback s | $encode s | $transfer s |"
done <<'CASES'
1280x720_H.264 clip.mp4 --size 1280x720
1920x1080_H.264 clip1080.mp4 --size 1920x1080
1280x720_PNG_frames frames/ --size 1280x720
1280x720_VP9 clip.webm --size 1280x720
CASES
