#pragma once
/// Running the built `camsys` from a test, in a folder of the test's own: what it printed and
/// its exit status. CAMSYS_EXE and CAMSYS_EXAMPLES come from the test's CMake target.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TextFiles.h"

namespace testing_support {

inline const std::string kCamsys = CAMSYS_EXE;
inline const std::string kFlythrough = CAMSYS_EXAMPLES "/flythrough.json";

inline std::string readFile(const std::string& path) { return readText(path); }

/// The parts of `text` between separators: its lines, or a CSV row's fields.
inline std::vector<std::string> split(const std::string& text, char separator = '\n') {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) result.push_back(part);
    return result;
}

struct Result {
    int status;
    std::string out, err;
};

/// A folder of its own for each test, and camsys run in it.
class CamsysTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = testing::TempDir() + "camsys-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir_.data()), nullptr);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    /// Runs camsys with `args` (with the plug-in it was built with) and collects what it said.
    Result run(const std::vector<std::string>& args) const {
        std::string command = "env -u CAMSYS_PLUGIN '" + kCamsys + "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        command += " >'" + path("stdout") + "' 2>'" + path("stderr") + "'";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(path("stdout")), readFile(path("stderr"))};
    }

    std::string dir_;
};

}  // namespace testing_support
