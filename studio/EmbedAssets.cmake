# Writes OUT, a C++ source defining studio::pageAssets() over the files of the built page in DIR:
# index.html at "/", studio.js, studio.css and the page's worker under "/assets/", each with its brotli (.br) and
# gzip (.gz) forms where DIR has them. Each file becomes a byte array, so any content is safe.
set(files "index.html|/|text/html\\; charset=utf-8"
          "studio.js|/assets/studio.js|text/javascript\\; charset=utf-8"
          "studio.css|/assets/studio.css|text/css\\; charset=utf-8"
          "generateMeshBVH.worker.js|/assets/generateMeshBVH.worker.js|text/javascript\\; charset=utf-8")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS files)
  string(REGEX MATCH "^([^|]*)[|]([^|]*)[|](.*)$" _ "${entry}")
  set(name "${CMAKE_MATCH_1}")
  set(path "${CMAKE_MATCH_2}")
  set(type "${CMAKE_MATCH_3}")
  set(views "")
  foreach(suffix "" ".br" ".gz")
    if(NOT suffix STREQUAL "" AND NOT EXISTS "${DIR}/${name}${suffix}")
      string(APPEND views ", {}")
      continue()
    endif()
    file(READ "${DIR}/${name}${suffix}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    # A string literal of escapes ("\x3c\x68..."), 32 bytes a line: far quicker to compile than
    # an initializer of single characters.
    string(REGEX REPLACE "(................................................................)" "\\1\"\n\"" hex "${hex}")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" bytes "${hex}")
    string(MAKE_C_IDENTIFIER "kAsset${index}${suffix}" array)
    string(APPEND arrays "const char ${array}[] =\n\"${bytes}\";\n")
    string(APPEND views ", std::string_view(${array}, ${size})")
  endforeach()
  string(APPEND table "    {\"${path}\", \"${type}\"${views}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from the built page by EmbedAssets.cmake; do not edit.
#include \"studio/server/Assets.h\"

namespace studio {
namespace {
${arrays}
const Asset kAssets[] = {
${table}};
}  // namespace

std::span<const Asset> pageAssets() { return kAssets; }

}  // namespace studio
")
file(RENAME "${OUT}.tmp" "${OUT}")
