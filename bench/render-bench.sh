#!/usr/bin/env bash
# camsys render's speed on the example flying through its town: 1280x720 and 1920x1080 as H.264,
# 1280x720 as PNG frames and as VP9, each the median of ROUNDS runs (by the whole run's time,
# start-up included), with where the page's time went and the processor time Chromium used.
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

# One case: prints "wall fps page render readback encode transfer cpu" of its median run.
run_case() {
  local output=$1; shift
  for ((r = 0; r < rounds; ++r)); do
    rm -rf "${scratch:?}/$output"
    local line
    line=$("$camsys" render "$scratch/flythrough.json" -o "$scratch/$output" "$@" 2>&1 | grep 'camsys render: wrote')
    # "... N frames in W s (F frames/s; on the page P s: render R s, read-back B s, encode E s,
    # transfer T s; Chromium's processor time C s)"
    sed -E 's/.* frames in ([0-9.]+) s \(([0-9.]+) frames\/s; on the page ([0-9.]+) s: render ([0-9.]+) s, read-back ([0-9.]+) s, encode ([0-9.]+) s, transfer ([0-9.]+) s; Chromium.s processor time ([0-9.]+) s\)/\1 \2 \3 \4 \5 \6 \7 \8/' <<<"$line"
  done | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

echo "| output | whole run | frames/s | on the page: render | read-back | encode | transfer | Chromium's processor time |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
while read -r name output args; do
  # shellcheck disable=SC2086
  read -r wall fps _ render readback encode transfer cpu < <(run_case "$output" $args)
  echo "| ${name//_/ } | $wall s | $fps | $render s | $readback s | $encode s | $transfer s | $cpu s |"
done <<'CASES'
1280x720_H.264 clip.mp4 --size 1280x720
1920x1080_H.264 clip1080.mp4 --size 1920x1080
1280x720_PNG_frames frames/ --size 1280x720
1280x720_VP9 clip.webm --size 1280x720
CASES
