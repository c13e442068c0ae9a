#include "host/AtomicFile.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/Streams.h"

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

void writeFileAtomically(const std::string& path, const FileWriter& write) {
    const std::string temporary = temporaryBeside(path);
    try {
        write(temporary);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot rename " + temporary + " to " + path + ": " + reason);
    }
}

void writeFileAtomically(const std::string& path, std::string_view bytes) {
    writeFileAtomically(path, [&](const std::string& temporary) {
        FileStream out(temporary, FileStream::Mode::Save);
        if (!out.isOpen()) throw std::runtime_error("cannot write " + temporary + ": " + std::strerror(errno));
        const bool written = out.Write(bytes.data(), static_cast<ULong>(bytes.size())) >= 0;
        if (!out.close() || !written) throw std::runtime_error("cannot write " + path + " completely");
    });
}

}  // namespace host
