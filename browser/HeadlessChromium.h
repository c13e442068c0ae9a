#pragma once
/// A headless Chromium that camsys starts and stops itself, for pages that must run in a real
/// browser (a render of a flight). Chromium forks many helpers, so it runs in a process group of
/// its own and is always ended as a group, with a profile folder that lives only as long as it.

#include <sys/types.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace host {

/// No browser program to run; the message says what was tried and how to get one.
class BrowserMissing : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Where the browser program is: `given` (a --chromium option, may be empty), else
/// $CAMSYS_CHROMIUM, else the first of "chromium", "chromium-browser" found on PATH (executable
/// regular files). A name without a slash is looked up on PATH as a shell would. Throws
/// BrowserMissing when there is none; its message names what was tried and says to install
/// Debian's package `chromium` or to pass --chromium / set CAMSYS_CHROMIUM. A `given` or
/// $CAMSYS_CHROMIUM that is not an executable file is also BrowserMissing, naming it: what a
/// person asked for explicitly is never silently replaced by another browser.
std::string findChromium(const std::string& given);

/// The browser's window, in CSS pixels, and arguments placed after camsys's own (before the URL).
struct ChromiumOptions {
    int width = 1280;
    int height = 720;
    std::vector<std::string> extraArguments{};
};

/// A headless Chromium on one URL, in a process group of its own and with a fresh profile folder
/// (mkdtemp under $TMPDIR or /tmp, named camsys-chromium-XXXXXX), so that no setting, cache or
/// lock of a person's own browser is touched. The destructor stops it (see stop).
///
/// The child starts with an empty signal mask and default dispositions whatever the calling
/// thread has blocked (callers block SIGINT/SIGTERM in their threads to handle them in one place),
/// so the SIGTERM of stop() reaches it. Nothing here installs handlers or blocks signals.
/// How long stop() gives the browser to end by itself before it is killed.
inline constexpr double kStopGraceSeconds = 2.0;

class HeadlessChromium {
public:
    /// Starts `program` headless on `url` (last argument). Throws std::invalid_argument for a
    /// window that is not positive, std::runtime_error when the profile folder cannot be made or
    /// the program cannot be started (nothing is left behind then).
    HeadlessChromium(const std::string& program, const std::string& url, const ChromiumOptions& options = {});
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    /// Still running (reaps the main process without blocking when it has exited). Helpers left
    /// in the group after the main process ended do not count; stop() ends them.
    bool running();
    /// How it ended, as words ("exited with status 3", "killed by signal 9"); empty while running
    /// or before running() or stop() saw it end.
    std::string exitDescription() const;
    /// The last `lines` lines Chromium wrote to its stderr/stdout (captured to output.log in the
    /// profile folder), for error messages. After stop() the tail kept when the folder was
    /// removed (its last 64 KiB).
    std::string lastOutput(std::size_t lines = 20) const;
    /// The processor time the browser's processes have used so far (user and system, all of
    /// its group), in seconds: what a render costs on a machine shared with other work.
    double cpuSeconds() const;
    /// Ends the whole process group: SIGTERM, then SIGKILL after a grace period (~2 s) for
    /// whatever remains of the group; waits for the main process and until the group is empty
    /// (orphaned helpers are reaped by init, which may take a moment); then removes the profile
    /// folder. Safe to call twice; never throws.
    void stop() noexcept { stop(kStopGraceSeconds); }
    /// The same with `graceSeconds` between SIGTERM and SIGKILL; 0 kills at once (a browser
    /// whose work is done and whose profile goes anyway has nothing to save).
    void stop(double graceSeconds) noexcept;

    pid_t pid() const { return pid_; }
    const std::string& profileFolder() const { return profile_; }

private:
    bool reapMain(bool block);
    bool waitForEmptyGroup(double seconds, int signalEachRound);

    std::string profile_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    bool stopped_ = false;
    int status_ = 0;
    std::string keptOutput_;
};

}  // namespace host
