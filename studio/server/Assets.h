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
    std::string_view brotli;  ///< the same bytes compressed with brotli, or empty
    std::string_view gzip;    ///< the same bytes compressed with gzip, or empty
};

/// Every file of the page (generated at build time).
std::span<const Asset> pageAssets();

}  // namespace studio
