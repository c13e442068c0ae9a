#pragma once
/// The page the studio serves, built from `studio/web` and compiled into the program, so that
/// the tool needs no files beside it and no request path ever reaches the file system.

#include <span>
#include <string_view>

namespace studio {

/// One file of the page.
struct Asset {
    std::string_view path;         ///< the URL path it is served at ("/assets/studio.js")
    std::string_view contentType;  ///< its media type
    std::string_view bytes;
};

/// Every file of the page (generated at build time).
std::span<const Asset> pageAssets();

}  // namespace studio
