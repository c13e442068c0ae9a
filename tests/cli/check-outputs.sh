#!/usr/bin/env bash
# The tool's outputs on the bundled examples, byte for byte against the committed digests:
# fly (rows and standard error), draw (PNG and SVG), export (.gltf and .glb), profile (PNG, SVG and
# CSV), lint, load, save, import of fly's rows, retime, and add-move's presets around the town. A change of any byte of them is a change of
# behaviour.
#   check-outputs.sh CAMSYS EXAMPLES            compare with outputs.sha256 beside this script
#   check-outputs.sh CAMSYS EXAMPLES --update   write outputs.sha256 anew
set -uo pipefail
camsys=$(realpath "$1") examples=$2 mode=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Scenes are named as given, relative to the examples, so that messages and titles do not depend
# on where the checkout lies.
cd "$examples" || exit 1

for scene in flythrough minimal; do
  in=$scene.json
  "$camsys" fly "$in" --iterator Cam -o "$out/$scene.fly.csv" 2>"$out/$scene.fly.err"
  "$camsys" draw "$in" -o "$out/$scene.draw.png"
  "$camsys" draw "$in" -o "$out/$scene.draw.svg"
  "$camsys" export "$in" --iterator Cam -o "$out/$scene.export.gltf" 2>/dev/null
  "$camsys" export "$in" --iterator Cam -o "$out/$scene.export.glb" 2>/dev/null
  "$camsys" profile "$in" --iterator Cam -o "$out/$scene.profile.png" --csv "$out/$scene.profile.csv" \
    >"$out/$scene.profile.out" 2>/dev/null
  "$camsys" profile "$in" --iterator Cam -o "$out/$scene.profile.svg" >/dev/null 2>&1
  "$camsys" lint "$in" --json >"$out/$scene.lint.json"
  "$camsys" lint "$in" >"$out/$scene.lint.txt"
  "$camsys" load "$in" -o "$out/$scene.load.json"
  "$camsys" import "$out/$scene.fly.csv" -o "$out/$scene.import.json" 2>/dev/null
  "$camsys" save "$in" "$out/$scene.sco"
  "$camsys" load "$out/$scene.sco" -o "$out/$scene.sco.json"
  "$camsys" retime "$in" --even -o "$out/$scene.even.json" 2>"$out/$scene.even.err"
  "$camsys" retime "$in" --speed 12.5 -o "$out/$scene.speed.json" 2>/dev/null
done
"$camsys" add-move flythrough.json orbit --target Tower --radius 30 -o "$out/orbit.json" >"$out/orbit.out"
"$camsys" add-move flythrough.json fly-through --through Tower Statue 0,0,20 -o "$out/through.json" >/dev/null

cd "$out"
if [[ $mode == --update ]]; then
  sha256sum -- * >"$here/outputs.sha256"
  echo "wrote $here/outputs.sha256"
  exit 0
fi
sha256sum --quiet -c "$here/outputs.sha256" || { echo "outputs differ from tests/cli/outputs.sha256"; exit 1; }
extra=$(comm -13 <(awk '{print $2}' "$here/outputs.sha256" | sort) <(ls | sort))
[[ -z $extra ]] || { echo "outputs without a digest: $extra"; exit 1; }
echo "all outputs as committed"
