#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what an integrator gets there: the installed
# camsys flies the installed example exactly as the build tree's does, the programs report the
# project's version and find the installed plug-in on their own, and the minimal host builds
# against the SDK alone, with CMake and with pkg-config, and flies like camsys.
#
#   install-test.sh BUILD_DIR VERSION CAMSYS
set -euo pipefail
build=$1
version=$2
built_camsys=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/camsys-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "install-test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "install failed"; }

for file in bin/camsys bin/camsys-info lib/camerasystem/libcamerasystem.so lib/libcamsys_render.so.1 \
            include/camerasystem/framework/IRTS.h include/camerasystem/framework/Attribute.h \
            include/camerasystem-host/host/Host.h lib/cmake/CameraSystem/CameraSystemConfig.cmake \
            lib/cmake/CameraSystem/CameraSystemConfigVersion.cmake lib/pkgconfig/camerasystem.pc \
            share/camerasystem/examples/flythrough.json share/camerasystem/examples/minimal-host/CMakeLists.txt \
            share/man/man1/camsys.1 share/bash-completion/completions/camsys; do
  [[ -e $prefix/$file ]] || fail "missing $file"
done
# The contract is the framework's headers and nothing of the host or the tool.
[[ ! -e $prefix/include/camerasystem/host && ! -e $prefix/include/camerasystem/framework/ModuleRuntime.h ]] ||
  fail "host or plug-in-internal headers among the contract headers"

# Moved away from where it was installed: the programs still find their plug-in and libraries.
mv "$prefix" "$work/moved"
prefix=$work/moved
env -u CAMSYS_PLUGIN "$prefix/bin/camsys" fly "$prefix/share/camerasystem/examples/flythrough.json" --iterator Cam \
  >"$work/installed.csv" 2>/dev/null || fail "the installed camsys cannot fly the installed example"
"$built_camsys" fly "$prefix/share/camerasystem/examples/flythrough.json" --iterator Cam >"$work/built.csv" 2>/dev/null
cmp -s "$work/installed.csv" "$work/built.csv" || fail "the installed camsys flies differently from the built one"
# The Python module, when built: in the prefix's packages, it finds the installed plug-in.
if [[ -e $build/python/camsys/__init__.py ]]; then
  PYTHONPATH=$prefix/lib/python3/dist-packages env -u CAMSYS_PLUGIN /usr/bin/python3 -c '
import sys, camsys
assert camsys.plugin_path() == sys.argv[2], camsys.plugin_path()
sys.stdout.write(camsys.Scene.load(sys.argv[1]).fly("Cam").to_csv())' \
    "$prefix/share/camerasystem/examples/flythrough.json" "$prefix/lib/camerasystem/libcamerasystem.so" \
    >"$work/python.csv" || fail "the installed Python module cannot fly the installed example"
  cmp -s "$work/python.csv" "$work/built.csv" || fail "the installed Python module flies differently from camsys"
fi

[[ $("$prefix/bin/camsys" --version) == "camsys $version" ]] || fail "camsys --version: $("$prefix/bin/camsys" --version)"
info=$(env -u CAMSYS_PLUGIN "$prefix/bin/camsys-info")
[[ $(head -n1 <<<"$info") == "camerasystem $version, plug-in $prefix/lib/camerasystem/libcamerasystem.so" ]] ||
  fail "camsys-info: $(head -n1 <<<"$info")"
[[ $(grep -c '^SCOCameraSystem' <<<"$info") == 3 ]] || fail "camsys-info lists no three factories: $info"

cflags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags camerasystem)
[[ $cflags == *"-I$prefix/lib/pkgconfig/../../include/camerasystem"* && $cflags == *-ffp-contract=off* ]] ||
  fail "pkg-config --cflags camerasystem: $cflags"
[[ $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion camerasystem) == "$version" ]] ||
  fail "pkg-config --modversion camerasystem"

# The version file: another major version is refused, an older minor one accepted.
mkdir -p "$work/version"
for wanted in 2.0 1.0; do
  printf 'cmake_minimum_required(VERSION 3.20)\nproject(v NONE)\nfind_package(CameraSystem %s REQUIRED)\n' "$wanted" \
    >"$work/version/CMakeLists.txt"
  if cmake -S "$work/version" -B "$work/version/build-$wanted" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1; then
    [[ $wanted == 1.0 ]] || fail "find_package(CameraSystem $wanted) accepted version $version"
  else
    [[ $wanted != 1.0 ]] || fail "find_package(CameraSystem $wanted) refused version $version"
  fi
done
bash -n "$prefix/share/bash-completion/completions/camsys" || fail "the bash completion does not parse"

# The minimal host, built from scratch against the prefix alone, with CMake and with nothing but
# what pkg-config says: each flies the scene it builds exactly as camsys flies its file.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
examples=$prefix/share/camerasystem/examples
"$built_camsys" fly "$examples/minimal-host/scene.json" --iterator Cam >"$work/scene.csv" 2>/dev/null
[[ $(wc -l <"$work/scene.csv") -ge 100 ]] || fail "camsys flew the minimal host's scene in under 100 rows"
{ cmake -S "$examples/minimal-host" -B "$work/minimal-host-cmake" -DCMAKE_PREFIX_PATH="$prefix" &&
  cmake --build "$work/minimal-host-cmake" -j2; } >"$work/minimal-host-cmake.log" 2>&1 ||
  { cat "$work/minimal-host-cmake.log" >&2; fail "the minimal host does not build with find_package"; }
# shellcheck disable=SC2046  # the flags are meant to be split
c++ $(pkg-config --cflags camerasystem) -DCAMERASYSTEM_PLUGIN_PATH="\"$(pkg-config --variable=plugin camerasystem)\"" \
  "$examples"/minimal-host/*.cpp $(pkg-config --libs camerasystem) -o "$work/minimal-host-pc" ||
  fail "the minimal host does not build with pkg-config's flags"
for build in minimal-host-cmake/minimal-host minimal-host-pc; do
  "$work/$build" >"$work/flight.csv"
  diff -u "$work/scene.csv" "$work/flight.csv" >&2 || fail "$build flies differently from camsys fly (diff above)"
done

# The stand-in host's headers compile from the prefix as well, every one of them: the framework's
# runtime pointer (which a host that uses the framework's helpers sets), the host and what it is
# built on. None of them reaches for the tool's parts, which are not installed.
{
  for header in "$prefix"/include/camerasystem-host/*/*.h; do
    echo "#include <${header#"$prefix"/include/camerasystem-host/}>"
  done
  echo 'int main() { SetModuleRuntime(nullptr); }'
} >"$work/host-headers.cpp"
# shellcheck disable=SC2046
c++ $(pkg-config --cflags camerasystem) -I"$prefix/include/camerasystem-host" -c "$work/host-headers.cpp" \
  -o "$work/host-headers.o" || fail "the stand-in host's installed headers do not compile"

echo "install-test: passed"
