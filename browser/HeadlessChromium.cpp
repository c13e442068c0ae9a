#include "browser/HeadlessChromium.h"

#include <fcntl.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace host {
namespace {

// Helpers orphaned by the main process are reaped by init; some inits take a second or two.
constexpr double kReapSeconds = 5.0;
constexpr std::size_t kKeptOutputBytes = 64 * 1024;

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

/// The first executable `name` in the folders of PATH, or empty.
std::string searchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
    }
    return {};
}

/// `program` as asked for explicitly (by --chromium or CAMSYS_CHROMIUM), or BrowserMissing.
std::string explicitProgram(const std::string& program, const std::string& source) {
    const std::string found = program.find('/') == std::string::npos ? searchPath(program) : program;
    if (!found.empty() && isExecutableFile(found)) return found;
    throw BrowserMissing(source + " names '" + program + "', which is not an executable file" +
                         (program.find('/') == std::string::npos ? " on PATH" : ""));
}

std::string temporaryFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

std::string readTail(const std::string& path, std::size_t bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    const std::streamoff start = size > std::streamoff(bytes) ? size - std::streamoff(bytes) : 0;
    in.seekg(start);
    std::string text(static_cast<std::size_t>(size - start), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

/// Starts `program` with `argv` in a process group of its own, its signals as a fresh process
/// has them, standard input from /dev/null and its output to `logPath`, holding none of the
/// caller's other descriptors (a listening socket, pipes). It gets SIGKILL when the thread that
/// started it ends, so that a camsys killed outright leaves no browser behind. Returns its pid;
/// throws std::runtime_error when it cannot start.
pid_t spawnInGroup(const std::string& program, char* const* argv, const std::string& logPath) {
    // Opened before the fork: the child may only call what is safe between fork and exec.
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int report[2] = {-1, -1};  // the child's errno when exec fails; closed by a successful exec
    if (input < 0 || output < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        const std::runtime_error error = systemError("cannot start Chromium (" + program + ")");
        for (int fd : {input, output, report[0], report[1]}) if (fd >= 0) ::close(fd);
        throw error;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);  // the parent ended before the line above
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction fresh {};
        fresh.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &fresh, nullptr);
        ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(output, 2);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(program.c_str(), argv, environ);
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    const int forkError = errno;
    for (int fd : {input, output, report[1]}) ::close(fd);
    if (child < 0) {
        ::close(report[0]);
        throw std::runtime_error("cannot start Chromium (" + program + "): " + std::strerror(forkError));
    }
    ::setpgid(child, child);  // as the child does: whichever comes first, the group exists
    int error = 0;
    ssize_t n;
    do n = ::read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == sizeof error) {
        ::waitpid(child, nullptr, 0);
        throw std::runtime_error("cannot start Chromium (" + program + "): " + std::strerror(error));
    }
    return child;
}

}  // namespace

std::string findChromium(const std::string& given) {
    if (!given.empty()) return explicitProgram(given, "--chromium");
    if (const char* variable = std::getenv("CAMSYS_CHROMIUM"); variable && *variable)
        return explicitProgram(variable, "CAMSYS_CHROMIUM");
    for (const char* name : {"chromium", "chromium-browser"})
        if (std::string found = searchPath(name); !found.empty()) return found;
    throw BrowserMissing(
        "no Chromium found: tried --chromium and CAMSYS_CHROMIUM (both unset), then "
        "'chromium' and 'chromium-browser' on PATH; install Debian's package `chromium`, "
        "or pass --chromium PROGRAM or set CAMSYS_CHROMIUM");
}

HeadlessChromium::HeadlessChromium(const std::string& program, const std::string& url, const ChromiumOptions& options) {
    if (options.width <= 0 || options.height <= 0)
        throw std::invalid_argument("the browser's window must be at least 1 by 1 pixels, not " +
                                    std::to_string(options.width) + " by " + std::to_string(options.height));
    std::string pattern = temporaryFolder() + "/camsys-chromium-XXXXXX";
    if (!mkdtemp(pattern.data())) throw systemError("cannot make a profile folder for Chromium as " + pattern);
    profile_ = pattern;

    std::vector<std::string> arguments = {
        program,
        "--headless=new",
        "--use-angle=swiftshader",
        "--enable-unsafe-swiftshader",
        "--disable-gpu-sandbox",
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--disable-breakpad",
        "--disable-crash-reporter",
        "--mute-audio",
        "--user-data-dir=" + profile_,
        "--window-size=" + std::to_string(options.width) + "," + std::to_string(options.height)};
    // Chromium refuses to run as root with its sandbox on.
    if (geteuid() == 0) arguments.push_back("--no-sandbox");
    arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
    arguments.push_back(url);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    try {
        pid_ = spawnInGroup(program, argv.data(), profile_ + "/output.log");
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(profile_, ignored);
        throw;
    }
}

HeadlessChromium::~HeadlessChromium() { stop(); }

bool HeadlessChromium::reapMain(bool block) {
    if (reaped_) return true;
    pid_t result;
    do result = waitpid(pid_, &status_, block ? 0 : WNOHANG);
    while (result < 0 && errno == EINTR);
    // ECHILD: someone else reaped it (a SIGCHLD set to be ignored); it is gone all the same.
    reaped_ = result == pid_ || (result < 0 && errno == ECHILD);
    return reaped_;
}

bool HeadlessChromium::running() { return !stopped_ && !reapMain(false); }

std::string HeadlessChromium::exitDescription() const {
    if (!reaped_) return {};
    if (WIFEXITED(status_)) return "exited with status " + std::to_string(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
    return "ended";
}

std::string HeadlessChromium::lastOutput(std::size_t lines) const {
    if (lines == 0) return {};
    const std::string text = stopped_ ? keptOutput_ : readTail(profile_ + "/output.log", kKeptOutputBytes);
    const std::size_t end = !text.empty() && text.back() == '\n' ? text.size() - 1 : text.size();
    std::size_t start = end, newlines = 0;
    while (start > 0 && !(text[start - 1] == '\n' && ++newlines == lines)) --start;
    return text.substr(start, end - start);
}

namespace {

/// What /proc says of one process: its state, group and CPU time (its own and its reaped
/// children's), in clock ticks.
struct ProcessStat {
    char state = 0;
    long group = 0;
    unsigned long long cpuTicks = 0;
};

/// Calls `visit(stat)` for every process of the group `group`.
template <typename Visit>
void forEachInGroup(pid_t group, Visit visit) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "PID (COMMAND) STATE PPID PGRP SESSION TTY TPGID FLAGS MINFLT CMINFLT MAJFLT CMAJFLT
        // UTIME STIME CUTIME CSTIME ...": the command may hold spaces and parentheses.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 1));
        ProcessStat p;
        long parent = 0;
        unsigned long long skip = 0, user = 0, system = 0, childUser = 0, childSystem = 0;
        if (!(fields >> p.state >> parent >> p.group) || p.group != group) continue;
        for (int i = 0; i < 7; ++i) fields >> skip;
        if (fields >> user >> system >> childUser >> childSystem) p.cpuTicks = user + system + childUser + childSystem;
        visit(p);
    }
}

/// True while a process of the group `group` is alive. Children that died and wait for init to
/// reap them (which can take seconds in a container) count as gone: they run nothing and hold
/// nothing but their process table entry.
bool groupHasLiveMember(pid_t group) {
    if (kill(-group, 0) != 0 && errno == ESRCH) return false;
    bool live = false;
    forEachInGroup(group, [&](const ProcessStat& p) { live = live || (p.state != 'Z' && p.state != 'X'); });
    return live;
}

}  // namespace

bool HeadlessChromium::waitForEmptyGroup(double seconds, int signalEachRound) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
        reapMain(false);  // unreaped, the main process would keep the group alive as a zombie
        if (!groupHasLiveMember(pid_)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (signalEachRound) kill(-pid_, signalEachRound);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

double HeadlessChromium::cpuSeconds() const {
    if (pid_ <= 0 || stopped_) return 0;
    unsigned long long ticks = 0;
    forEachInGroup(pid_, [&](const ProcessStat& p) { ticks += p.cpuTicks; });
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

void HeadlessChromium::stop(double graceSeconds) noexcept {
    if (stopped_) return;
    try {
        if (pid_ > 0) {
            if (graceSeconds > 0) kill(-pid_, SIGTERM);
            if (graceSeconds <= 0 || !waitForEmptyGroup(graceSeconds, 0)) {
                kill(-pid_, SIGKILL);
                waitForEmptyGroup(kReapSeconds, SIGKILL);
            }
            reapMain(true);
        }
        keptOutput_ = readTail(profile_ + "/output.log", kKeptOutputBytes);
    } catch (...) {  // only memory can run out here; the folder goes all the same
    }
    stopped_ = true;
    std::error_code ignored;
    std::filesystem::remove_all(profile_, ignored);
}

}  // namespace host
