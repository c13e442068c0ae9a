#!/usr/bin/env bash
# Builds examples/minimal-host from scratch against an installed SDK, flies its scene and checks
# that it prints the same CSV, byte for byte, as `camsys fly` of the same scene with the same
# plug-in.
#
#   minimal-host-test.sh PREFIX CAMSYS EXAMPLES
#
# PREFIX: where the SDK is installed (the CMAKE_PREFIX_PATH of the build); CAMSYS: a built
# camsys; EXAMPLES: the examples directory that holds minimal-host/.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 PREFIX CAMSYS EXAMPLES" >&2
  exit 2
fi
prefix=$1
camsys=$2
source_dir=$3/minimal-host

work=$(mktemp -d "${TMPDIR:-/tmp}/minimal-host-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Only the SDK: nothing of the source tree's build is visible to this configure.
cmake -S "$source_dir" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log" 2>&1 || {
  cat "$work/configure.log" >&2
  echo "minimal-host-test: configuring against $prefix failed" >&2
  exit 1
}
cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || {
  cat "$work/build.log" >&2
  echo "minimal-host-test: building failed" >&2
  exit 1
}

# The plug-in the SDK names (find_package's CameraSystem_PLUGIN): both programs fly with it.
plugin=$(sed -n 's/^MINIMAL_HOST_PLUGIN:FILEPATH=//p' "$work/build/CMakeCache.txt")
if [[ ! -f $plugin ]]; then
  echo "minimal-host-test: the SDK names no plug-in file: '$plugin'" >&2
  exit 1
fi

"$work/build/minimal-host" >"$work/minimal-host.csv"
"$camsys" --plugin "$plugin" fly "$source_dir/scene.json" --iterator Cam >"$work/camsys.csv" 2>"$work/camsys.err" || {
  cat "$work/camsys.err" >&2
  echo "minimal-host-test: camsys fly failed" >&2
  exit 1
}

# A flight of a few rows would mean the scene fell apart on both sides alike.
rows=$(wc -l <"$work/camsys.csv")
if [[ $rows -lt 100 ]]; then
  echo "minimal-host-test: camsys flew only $rows rows" >&2
  exit 1
fi
if ! diff -u "$work/camsys.csv" "$work/minimal-host.csv" >&2; then
  echo "minimal-host-test: minimal-host and camsys fly differ (above: camsys ---, minimal-host +++)" >&2
  exit 1
fi
echo "minimal-host-test: $rows lines identical"
