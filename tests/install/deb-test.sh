#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks it: its name and version, its declared
# dependencies, and that the camsys it holds, unpacked into a scratch root, flies the example it
# holds exactly as the build tree's camsys does.
#
#   deb-test.sh BUILD_DIR VERSION CAMSYS
set -euo pipefail
build=$1
version=$2
built_camsys=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/camsys-deb-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "deb-test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb=$work/out/camerasystem_${version}_${arch}.deb
[[ -f $deb ]] || fail "no $(basename "$deb") among: $(ls "$work/out")"

[[ $(dpkg-deb -f "$deb" Package) == camerasystem && $(dpkg-deb -f "$deb" Version) == "$version" ]] ||
  fail "package fields: $(dpkg-deb -f "$deb" Package Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libcairo2 libtinygltf; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

dpkg -x "$deb" "$work/root"
usr=$work/root/usr
env -u CAMSYS_PLUGIN "$usr/bin/camsys" fly "$usr/share/camerasystem/examples/flythrough.json" --iterator Cam \
  >"$work/packaged.csv" 2>/dev/null || fail "the packaged camsys cannot fly the packaged example"
"$built_camsys" fly "$usr/share/camerasystem/examples/flythrough.json" --iterator Cam >"$work/built.csv" 2>/dev/null
cmp -s "$work/packaged.csv" "$work/built.csv" || fail "the packaged camsys flies differently from the built one"
[[ -f $usr/share/man/man1/camsys.1 || -f $usr/share/man/man1/camsys.1.gz ]] || fail "no man page"
echo "deb-test: $(basename "$deb") passed ($(wc -l <"$work/packaged.csv") rows; Depends: $depends)"
