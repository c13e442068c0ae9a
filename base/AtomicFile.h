#pragma once
/// Files that appear complete or not at all: written under a temporary name in the same folder,
/// then renamed over the target (a rename within one file system replaces it in one step).

#include <cstdint>
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

/// A file written piece by piece over time (a video as its encoder hands it on, with seeks back
/// to its header) that appears complete at `commit` or not at all: the pieces go to a temporary
/// file beside `path`, which `commit` renames as `writeFileAtomically` does and which is removed
/// when the file is destroyed uncommitted. Only regular files (new or replaced) can be staged.
class StagedFile {
public:
    /// Throws std::runtime_error naming `path` when it cannot be written (a directory, a device,
    /// a missing folder, no permission).
    explicit StagedFile(const std::string& path);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    /// Writes `bytes` at `offset`, growing the file as needed. Throws std::runtime_error.
    void writeAt(std::uint64_t offset, std::string_view bytes);
    /// Puts the file in place. Throws std::runtime_error (and leaves `path` as it was).
    void commit();

private:
    std::string path_;
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};

/// A folder of files (a video's frames) that appears complete at `commit` or not at all: filled
/// under a temporary name beside `path`, then renamed to it. `path` must not exist, or be an
/// empty folder: a folder with files in it is never replaced.
class StagedFolder {
public:
    /// Throws std::runtime_error naming `path` when it exists and is not an empty folder, or
    /// its parent cannot take the temporary folder.
    explicit StagedFolder(const std::string& path);
    ~StagedFolder();
    StagedFolder(const StagedFolder&) = delete;
    StagedFolder& operator=(const StagedFolder&) = delete;

    /// Writes `bytes` at `offset` of the file `name` (a plain name, no folders) in the folder,
    /// making it when it is new. Throws std::runtime_error.
    void writeAt(const std::string& name, std::uint64_t offset, std::string_view bytes);
    /// Puts the folder in place. Throws std::runtime_error (and leaves `path` as it was).
    void commit();

private:
    std::string path_;
    std::string temporary_;
    bool committed_ = false;
};

}  // namespace host
