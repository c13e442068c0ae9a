#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

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

namespace host {

namespace {

[[noreturn]] void failWriting(const std::string& path, const std::string& reason) {
    throw std::runtime_error("cannot write " + path + ": " + reason);
}

/// All of `bytes` at `offset` of the open file `fd` (`path` for the message).
void writeAllAt(int fd, std::uint64_t offset, std::string_view bytes, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failWriting(path, std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

StagedFile::StagedFile(const std::string& path) : path_(path) {
    const Target target = targetOf(path);
    if (target.direct) failWriting(path, "it is not a regular file");
    target_ = target.path;
    temporary_ = temporaryBeside(target_);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) failWriting(path, std::strerror(errno));
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void StagedFile::writeAt(std::uint64_t offset, std::string_view bytes) {
    if (fd_ < 0) failWriting(path_, "it is already complete");
    writeAllAt(fd_, offset, bytes, path_);
}

void StagedFile::commit() {
    if (fd_ < 0) failWriting(path_, "it is already complete");
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) failWriting(path_, std::strerror(errno));
    struct stat replaced {};
    if (::stat(target_.c_str(), &replaced) == 0) ::chmod(temporary_.c_str(), replaced.st_mode & 07777);
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) failWriting(path_, std::strerror(errno));
    temporary_.clear();
}

StagedFolder::StagedFolder(const std::string& path) : path_(path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (status.type() != std::filesystem::file_type::not_found) {
        if (status.type() != std::filesystem::file_type::directory) failWriting(path, "it exists and is not a folder");
        if (!std::filesystem::is_empty(path, error)) failWriting(path, "the folder is not empty");
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    path_ = trimmed;
    temporary_ = temporaryBeside(path_);
    if (::mkdir(temporary_.c_str(), 0777) != 0) {
        const std::string reason = std::strerror(errno);
        temporary_.clear();
        failWriting(path, reason);
    }
}

StagedFolder::~StagedFolder() {
    if (committed_ || temporary_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(temporary_, ignored);
}

void StagedFolder::writeAt(const std::string& name, std::uint64_t offset, std::string_view bytes) {
    const std::string shown = path_ + "/" + name;
    if (committed_) failWriting(path_, "it is already complete");
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        failWriting(shown, "not a plain file name");
    const int fd = ::open((temporary_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) failWriting(shown, std::strerror(errno));
    try {
        writeAllAt(fd, offset, bytes, shown);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) failWriting(shown, std::strerror(errno));
}

void StagedFolder::commit() {
    if (committed_) failWriting(path_, "it is already complete");
    // rename(2) replaces an empty folder in one step; a folder that gained files meanwhile stays.
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) failWriting(path_, std::strerror(errno));
    committed_ = true;
}

}  // namespace host
