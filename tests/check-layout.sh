#!/usr/bin/env bash
# The house rules the compiler cannot see: which folder may include which, which third-party
# headers each folder may use, and the size of files outside the plug-in.
#   check-layout.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 2
failed=0
fail() { echo "layout: $*"; failed=1; }

# Arrows point one way: each folder may include its own headers and those of the folders listed.
plugin="framework module waypoint path iterator"
declare -A allowed=(
  [framework]="framework" [module]="$plugin render" [waypoint]="$plugin render" [path]="$plugin render"
  [iterator]="$plugin render" [render]="framework render"
  [base]="framework base" [host]="framework render base host" [geometry]="framework base geometry"
  [scene]="framework render base host scene" [flight]="framework render base host geometry scene flight"
  [exchange]="framework render base host geometry scene flight exchange"
  [pictures]="framework render base host geometry scene flight pictures"
  [studio]="framework render base host geometry scene flight studio"
  [browser]="base browser"
  [python]="framework render base host geometry scene flight exchange python"
)
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file line; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$line")
    [[ $target == "$line" ]] && continue  # a header beside the file
    [[ " ${allowed[$folder]} " == *" $target "* ]] || fail "$file includes $target/ ($folder/ may include: ${allowed[$folder]})"
  done < <(git grep -n --no-color '#include "' -- "$folder" | cut -d: -f1,3-)
done

# Third-party libraries stay in the one place that wraps them (tests may read what they write).
only() {  # PATTERN WHERE-REGEX
  while IFS= read -r file; do
    [[ $file =~ $2 ]] || fail "$file uses $1 (allowed only in files matching $2)"
  done < <(git grep -l -E "#include <$1" -- '*.h' '*.cpp' ':!tests' ':!bench' ':!fuzz')
}
only 'tiny_gltf' '^exchange/[^/]+\.cpp$'
only 'cairo' '^pictures/[^/]+\.cpp$'
only 'httplib' '^studio/server/HttpAdapter\.cpp$'
only 'CLI/' '^cli/'
only 'nlohmann' '^(scene/|studio/server/[^/]+\.cpp$|exchange/[^/]+\.cpp$)'
only 'embree' '^geometry/EmbreeIndex\.cpp$'
only 'pybind11' '^python/'
# No public header of scene/ hands nlohmann on.
for header in $(git grep -l '#include <nlohmann' -- 'scene/*.h'); do
  grep -q '^// Private to scene/' "$header" || fail "$header includes nlohmann but is not marked private to scene/"
done

# The index behind the level's queries is geometry/'s own.
while IFS= read -r file; do
  fail "$file includes geometry/TriangleIndex.h, which is private to geometry/"
done < <(git grep -l '#include "geometry/TriangleIndex.h"' -- '*.h' '*.cpp' ':!geometry')

# Files stay readable: none outside the plug-in over 600 lines.
while read -r lines file; do
  [[ $file == total ]] && continue
  ((lines > 600)) && fail "$file has $lines lines"
done < <(git ls-files -- '*.cpp' '*.h' '*.js' ':!framework' ':!module' ':!waypoint' ':!path' ':!iterator' ':!fuzz/corpus' |
         xargs wc -l)

((failed)) || echo "layout: as the house rules say"
exit $failed
