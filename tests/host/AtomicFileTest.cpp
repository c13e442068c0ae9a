// Files written complete or not at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "host/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

}  // namespace

TEST(AtomicFile, ReplacesTheFileOrLeavesItAsItWas) {
    const fs::path folder = fs::temp_directory_path() / ("camsys-atomic-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string target = (folder / "out.txt").string();
    const auto entries = [&] { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); };

    host::writeFileAtomically(target, std::string_view("first\0bytes", 11));
    EXPECT_EQ(contentOf(target), std::string("first\0bytes", 11));

    // Two writes of the same path at once each get their own temporary name; the one renamed
    // last wins.
    host::writeFileAtomically(target, [&](const std::string& outer) {
        writeText(outer, "outer");
        host::writeFileAtomically(target, [&](const std::string& inner) {
            EXPECT_NE(inner, outer);
            EXPECT_EQ(fs::path(inner).parent_path(), folder) << "beside the target, on its file system";
            writeText(inner, "inner");
        });
        EXPECT_EQ(contentOf(target), "inner");
    });
    EXPECT_EQ(contentOf(target), "outer");

    // A writer that fails leaves the old file and no temporary one; its exception comes through.
    struct WriterFailed {};
    EXPECT_THROW(host::writeFileAtomically(target,
                                           [](const std::string& temporary) {
                                               writeText(temporary, "half");
                                               throw WriterFailed{};
                                           }),
                 WriterFailed);
    EXPECT_EQ(contentOf(target), "outer");
    EXPECT_EQ(entries(), 1);
    // So does a folder that is not there.
    EXPECT_THROW(host::writeFileAtomically((folder / "no" / "out.txt").string(), "x"), std::runtime_error);
    EXPECT_EQ(entries(), 1);

    fs::remove_all(folder);
}
