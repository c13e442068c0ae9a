// Files written complete or not at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/AtomicFile.h"

namespace fs = std::filesystem;

TEST(AtomicFile, ReplacesTheFileOrLeavesItAsItWas) {
    const fs::path folder = fs::temp_directory_path() / ("camsys-atomic-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string target = (folder / "out.txt").string(), first("first\0bytes", 11);
    host::writeFileAtomically(target, first);

    // A writer that fails, or a folder that is not there: the first file stays whole, no
    // temporary is left, and the writer's exception comes through.
    struct WriterFailed {};
    const auto failing = [](const std::string& temporary) { std::ofstream(temporary) << "half", throw WriterFailed{}; };
    EXPECT_THROW(host::writeFileAtomically(target, failing), WriterFailed);
    EXPECT_THROW(host::writeFileAtomically((folder / "no" / "out.txt").string(), "x"), std::runtime_error);
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), first);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary is left";
    fs::remove_all(folder);
}
