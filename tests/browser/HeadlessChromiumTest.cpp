// Finding the browser, and starting and stopping it as one process group, with fake "chromium"
// scripts that fork helpers the way Chromium does (the render tests run the real one).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "browser/HeadlessChromium.h"

namespace fs = std::filesystem;
using host::HeadlessChromium;

namespace {

/// A fresh folder, removed at the end.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "camsys-browser-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string write(const std::string& name, const std::string& text, fs::perms mode = fs::perms::owner_all) {
        std::ofstream(path / name) << text;
        fs::permissions(path / name, mode);
        return (path / name).string();
    }
};

/// Sets an environment variable (or unsets it, given nullopt) for the scope, then restores it.
struct ScopedEnv {
    std::string name;
    std::optional<std::string> old;
    ScopedEnv(std::string variable, const std::optional<std::string>& value) : name(std::move(variable)) {
        if (const char* current = std::getenv(name.c_str())) old = current;
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    ~ScopedEnv() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

template <typename Condition>
bool eventually(Condition condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

/// No process of the group is left once init has reaped what stop() killed (stop() itself does
/// not wait for that: a dead child is no longer running).
bool groupGone(pid_t pgid) {
    return eventually([&] { return kill(-pgid, 0) != 0 && errno == ESRCH; }, 5);
}

// Forks two helpers and becomes a third, as Chromium's browser process starts its zygotes.
const std::string kHelpers = "sleep 300 &\nsleep 300 &\necho ready\nexec sleep 300\n";
const std::string kEchoArguments = "#!/bin/sh\nfor a in \"$@\"; do echo \"arg: $a\" >&2; done\n";

}  // namespace

TEST(FindChromium, GivenThenEnvironmentThenPathAndWhatItSaysWhenNoneIs) {
    TempFolder bin, other;
    const std::string onPath = bin.write("chromium-browser", "#!/bin/sh\n");
    const std::string given = other.write("my-chromium", "#!/bin/sh\n");
    const std::string fromEnv = other.write("env-chromium", "#!/bin/sh\n");
    const std::string notExecutable = other.write("plain", "#!/bin/sh\n", fs::perms::owner_read);
    ScopedEnv path("PATH", bin.path.string());
    {
        ScopedEnv env("CAMSYS_CHROMIUM", fromEnv);
        EXPECT_EQ(host::findChromium(given), given);
        EXPECT_EQ(host::findChromium(""), fromEnv);
        EXPECT_EQ(host::findChromium("chromium-browser"), onPath);  // a bare name is looked up on PATH
    }
    ScopedEnv unset("CAMSYS_CHROMIUM", std::nullopt);
    EXPECT_EQ(host::findChromium(""), onPath);
    const std::string first = bin.write("chromium", "#!/bin/sh\n");
    EXPECT_EQ(host::findChromium(""), first);

    for (const std::string& bad : {notExecutable, other.path.string(), (other.path / "absent").string()}) {
        try {
            host::findChromium(bad);
            ADD_FAILURE() << bad;
        } catch (const host::BrowserMissing& error) {
            EXPECT_NE(std::string(error.what()).find(bad), std::string::npos) << error.what();
        }
        ScopedEnv env("CAMSYS_CHROMIUM", bad);
        EXPECT_THROW(host::findChromium(""), host::BrowserMissing);  // not PATH's chromium instead
    }

    ScopedEnv empty("PATH", other.path.string());
    try {
        host::findChromium("");
        ADD_FAILURE() << "no chromium on PATH";
    } catch (const host::BrowserMissing& error) {
        const std::string message = error.what();
        for (const char* needed : {"`chromium`", "--chromium", "CAMSYS_CHROMIUM", "chromium-browser", "PATH"})
            EXPECT_NE(message.find(needed), std::string::npos) << message;
    }
}

TEST(HeadlessChromium, RunsInItsOwnGroupAndStopEndsAllOfIt) {
    TempFolder bin;
    const std::string program = bin.write("chromium", kEchoArguments + kHelpers);
    const std::string url = "http://127.0.0.1:9/render?a=1&b=two words";
    // The caller blocks SIGTERM in its threads; the browser must not inherit that.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    HeadlessChromium browser(program, url, {.width = 640, .height = 360, .extraArguments = {"--extra=1"}});
    pthread_sigmask(SIG_SETMASK, &old, nullptr);

    const pid_t pgid = browser.pid();
    const std::string profile = browser.profileFolder();
    EXPECT_EQ(getpgid(pgid), pgid);
    ASSERT_TRUE(eventually([&] { return browser.lastOutput(1) == "ready"; })) << browser.lastOutput();
    EXPECT_EQ(browser.exitDescription(), "") << "while it runs";

    const std::string output = browser.lastOutput(100);
    for (const std::string& flag :
         std::vector<std::string>{"--headless=new", "--use-angle=swiftshader", "--no-first-run",
                                  "--user-data-dir=" + profile, "--window-size=640,360"})
        EXPECT_NE(output.find("arg: " + flag + "\n"), std::string::npos) << flag << "\n" << output;
    EXPECT_EQ(output.find("arg: --no-sandbox\n") != std::string::npos, geteuid() == 0) << output;
    EXPECT_LT(output.find("arg: --window-size"), output.find("arg: --extra=1"));
    EXPECT_EQ(browser.lastOutput(3), "arg: --extra=1\narg: " + url + "\nready");  // the URL last, whole

    browser.stop();
    EXPECT_TRUE(groupGone(pgid));  // (and the profile folder went: render.test.mjs)
    EXPECT_FALSE(browser.running());
    EXPECT_EQ(browser.exitDescription(), "killed by signal 15");
    EXPECT_EQ(browser.lastOutput(1), "ready");  // kept for error messages after the folder went
    browser.stop();
}

TEST(HeadlessChromium, AGroupThatIgnoresTermIsKilledAndOneThatExitsSaysHow) {
    TempFolder bin;
    {
        HeadlessChromium stubborn(bin.write("chromium", "#!/bin/sh\ntrap '' TERM\n" + kHelpers), "about:blank");
        const pid_t pgid = stubborn.pid();
        ASSERT_TRUE(eventually([&] { return stubborn.lastOutput(1) == "ready"; }));
        stubborn.stop();
        EXPECT_TRUE(groupGone(pgid));
        EXPECT_EQ(stubborn.exitDescription(), "killed by signal 9");
    }
    HeadlessChromium quitter(bin.write("quits", "#!/bin/sh\necho 'cannot open display' >&2\nexit 3\n"), "about:blank");
    ASSERT_TRUE(eventually([&] { return !quitter.running(); }));
    EXPECT_EQ(quitter.exitDescription(), "exited with status 3");
    EXPECT_EQ(quitter.lastOutput(), "cannot open display");
    EXPECT_THROW(HeadlessChromium((bin.path / "absent").string(), "about:blank"), std::runtime_error);
}
