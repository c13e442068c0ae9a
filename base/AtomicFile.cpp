#include "base/AtomicFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace host {

namespace {

/// ".NAME.tmp-PID-N" beside `path`: the process id keeps processes apart, the counter the calls
/// of one process (two writes of the same path, or threads), and the leading dot keeps it out
/// of a plain directory listing while it exists.
std::string temporaryBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary(path);
    temporary.replace_filename("." + temporary.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                               std::to_string(counter++));
    return temporary.string();
}

}  // namespace

namespace {

/// Where the file named `path` is written, and how.
struct Target {
    std::string path;     ///< the file itself: a symbolic link's target, resolved
    bool direct = false;  ///< not a regular file (a device, a FIFO, a terminal): written through
};

Target targetOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return {path, false};  // a new file
    std::string file = path;
    if (S_ISLNK(status.st_mode)) {
        // The link stays; the file it leads to is the one replaced (or made, for a dangling link).
        std::error_code error;
        file = std::filesystem::weakly_canonical(path, error).string();
        if (error) throw std::runtime_error("cannot write " + path + ": " + error.message());
        if (::stat(file.c_str(), &status) != 0) return {file, false};
    }
    if (S_ISDIR(status.st_mode)) throw std::runtime_error("cannot write " + path + ": it is a directory");
    // Renaming a new file over a device node or a FIFO would replace it (run as root, over
    // /dev/null, that breaks the machine): what is not a regular file gets the bytes instead.
    return {file, !S_ISREG(status.st_mode)};
}

}  // namespace

void writeFileAtomically(const std::string& path, const FileWriter& write) {
    const Target target = targetOf(path);
    if (target.direct) {
        write(target.path);
        return;
    }
    const std::string temporary = temporaryBeside(target.path);
    try {
        write(temporary);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    // The file replaced keeps its permissions (a new one gets the usual ones).
    struct stat replaced {};
    if (::stat(target.path.c_str(), &replaced) == 0) ::chmod(temporary.c_str(), replaced.st_mode & 07777);
    if (std::rename(temporary.c_str(), target.path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + path + ": " + reason);
    }
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    writeFileAtomically(path, [&](const std::string& file) {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        // errno tells why a write or the close failed (a full disk, a broken pipe).
        if (std::fclose(out) != 0 || !written)
            throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    });
}

}  // namespace host
