#pragma once
/// Files that appear complete or not at all: written under a temporary name in the same folder,
/// then renamed over the target (a rename within one file system replaces it in one step).

#include <functional>
#include <string>
#include <string_view>

namespace host {

/// Writes the file at the temporary name it is given; throws when it cannot.
using FileWriter = std::function<void(const std::string& temporaryPath)>;

/// Calls `write` with a name beside `path` that no other writer of this or another process uses
/// at the same time, then renames that file to `path`, keeping the permissions of the file it
/// replaces. When `write` throws or the rename fails, the temporary file is removed and `path`
/// is left as it was; the exception propagates (a failed rename throws std::runtime_error
/// naming `path` and the system's reason). A symbolic link is followed: the file it leads to is
/// replaced and the link stays. What is not a regular file (a device such as /dev/null, a FIFO,
/// a terminal) is never renamed over: `write` gets its own name and writes straight through. A
/// directory is refused.
void writeFileAtomically(const std::string& path, const FileWriter& write);

/// Writes `bytes` to `path` in the same way. Throws std::runtime_error on failure.
void writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace host
