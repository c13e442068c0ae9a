// Files written complete or not at all: at once, or in pieces over time (a video as its muxer
// hands it on, a folder of frames) that appear whole at commit and leave nothing behind when
// abandoned.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/AtomicFile.h"
#include "tests/support/TextFiles.h"

namespace fs = std::filesystem;
using testing_support::readText;

namespace {

/// Every name in `folder`, hidden ones too, sorted.
std::vector<std::string> listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

/// A fresh empty folder for one test, removed with it.
struct Scratch {
    explicit Scratch(const std::string& name)
        : folder(fs::temp_directory_path() / ("camsys-" + name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    ~Scratch() { fs::remove_all(folder); }
    fs::path folder;
};

/// What constructing a staged output of `path` throws; empty when it does not.
template <typename Staged>
std::string refusal(const std::string& path) {
    try {
        Staged staged(path);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

}  // namespace

TEST(AtomicFile, ReplacesTheFileOrLeavesItAsItWas) {
    Scratch scratch("atomic");
    const std::string target = (scratch.folder / "out.txt").string(), first("first\0bytes", 11);
    host::writeFileAtomically(target, first);

    // A writer that fails, or a folder that is not there: the first file stays whole, no
    // temporary is left, and the writer's exception comes through.
    struct WriterFailed {};
    const auto failing = [](const std::string& temporary) { std::ofstream(temporary) << "half", throw WriterFailed{}; };
    EXPECT_THROW(host::writeFileAtomically(target, failing), WriterFailed);
    EXPECT_THROW(host::writeFileAtomically((scratch.folder / "no" / "out.txt").string(), "x"), std::runtime_error);
    EXPECT_EQ(readText(target), first);
    EXPECT_EQ(listing(scratch.folder), std::vector<std::string>{"out.txt"}) << "a temporary is left";
}

TEST(StagedFile, ReplacesAFileOnlyAtCommitKeepingItsPermissions) {
    // (Pieces in a muxer's order, writes after the commit, and a new file abandoned: through the
    // studio's render, tests/studio/StudioRenderTest.cpp.)
    Scratch scratch("staged-file");
    const fs::path target = scratch.folder / "clip.mp4";
    std::ofstream(target) << "old clip";
    ::chmod(target.c_str(), 0600);
    {
        host::StagedFile file(target.string());
        file.writeAt(4, "clip");
        file.writeAt(0, "new ");
        EXPECT_EQ(readText(target), "old clip") << "visible before its commit";
        file.commit();
    }
    EXPECT_EQ(readText(target), "new clip");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // Abandoned: the file it would replace stays as it was, and no temporary stays beside it.
    {
        host::StagedFile replacing(target.string());
        replacing.writeAt(0, "partial");
    }
    EXPECT_EQ(readText(target), "new clip");
    EXPECT_EQ(listing(scratch.folder), std::vector<std::string>{"clip.mp4"});
}

TEST(StagedFile, RefusesWhatIsNotARegularFileNamingIt) {
    Scratch scratch("staged-refusals");
    const std::string missing = (scratch.folder / "no" / "clip.mp4").string();
    for (const std::string& path : {scratch.folder.string(), std::string("/dev/null"), missing}) {
        const std::string why = refusal<host::StagedFile>(path);
        EXPECT_NE(why.find("cannot write " + path + ": "), std::string::npos) << path << ": " << why;
    }
    // A device is never staged, let alone renamed over (the tests may run as root).
    EXPECT_NE(refusal<host::StagedFile>("/dev/null").find("not a regular file"), std::string::npos);
    EXPECT_TRUE(listing(scratch.folder).empty());
}

TEST(StagedFolder, FillsAnEmptyFolderWholeAndNeverReplacesOneWithFiles) {
    Scratch scratch("staged-folder");
    const fs::path full = scratch.folder / "full", frames = scratch.folder / "frames";
    fs::create_directory(full);
    std::ofstream(full / "keep.png") << "kept";
    EXPECT_NE(refusal<host::StagedFolder>(full.string()).find(full.string()), std::string::npos);
    EXPECT_EQ(listing(full), std::vector<std::string>{"keep.png"});
    EXPECT_EQ(readText(full / "keep.png"), "kept");
    EXPECT_NE(refusal<host::StagedFolder>((full / "keep.png").string()), "") << "a file is not a folder";

    fs::create_directory(frames);
    {
        // (Files reopened, not truncated: tests/studio/StudioRenderTest.cpp.)
        host::StagedFolder staged(frames.string() + "/");
        staged.writeAt("00001.png", 0, "b");
        for (const char* name : {"", ".", "..", "sub/00002.png", "../00002.png"})
            EXPECT_THROW(staged.writeAt(name, 0, "x"), std::runtime_error) << '"' << name << '"';
        EXPECT_TRUE(fs::is_empty(frames)) << "visible before its commit";
        staged.commit();
        EXPECT_THROW(staged.writeAt("00002.png", 0, "x"), std::runtime_error);
    }
    EXPECT_EQ(listing(frames), std::vector<std::string>{"00001.png"});
    EXPECT_EQ(readText(frames / "00001.png"), "b");

    {
        host::StagedFolder abandoned((scratch.folder / "gone").string());
        abandoned.writeAt("00000.png", 0, "x");
    }
    EXPECT_EQ(listing(scratch.folder), (std::vector<std::string>{"frames", "full"}));
}
