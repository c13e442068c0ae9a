#include "studio/server/Journal.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "base/AtomicFile.h"
#include "scene/JsonSceneWriter.h"

namespace studio {

namespace {

constexpr std::string_view kMagic = "camsys-recovery 1 ";

std::string utcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::string readableTime(std::string time) {
    if (time.size() == 20 && time[10] == 'T' && time.back() == 'Z') {
        time[10] = ' ';
        time.back() = ' ';
        time += "UTC";
    }
    return time;
}

std::string journalPathOf(const std::string& sceneFile) {
    if (sceneFile.empty() || sceneFile == "-") return {};
    std::filesystem::path path(sceneFile);
    path.replace_filename("." + path.filename().string() + ".camsys-recovery");
    return path.string();
}

std::string versionOf(const std::optional<std::string>& bytes) {
    if (!bytes) return "none";
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (const char c : *bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[40];
    std::snprintf(text, sizeof text, "fnv1a64:%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string journalToText(const JournalEntry& entry) {
    return std::string(kMagic) + "base=" + entry.base + " time=" + entry.time + "\n" + entry.scene;
}

std::optional<JournalEntry> journalFromText(std::string_view text) {
    const std::size_t end = text.find('\n');
    if (!text.starts_with(kMagic) || end == std::string_view::npos) return std::nullopt;
    JournalEntry entry;
    std::string_view fields = text.substr(kMagic.size(), end - kMagic.size());
    while (!fields.empty()) {
        const std::size_t space = fields.find(' ');
        const std::string_view field = fields.substr(0, space);
        if (field.starts_with("base=")) entry.base = field.substr(5);
        if (field.starts_with("time=")) entry.time = field.substr(5);
        fields = space == std::string_view::npos ? std::string_view() : fields.substr(space + 1);
    }
    if (entry.base.empty()) return std::nullopt;
    entry.scene = text.substr(end + 1);
    return entry;
}

bool journalMatches(const FoundJournal& found, const std::string& base) {
    return found.entry && found.entry->base == base;
}

std::string journalRefusal(const FoundJournal& found, const std::string& sceneFile, const std::string& base) {
    const std::string journal = fileName(found.path);
    if (!found.entry) return journal + " is no recovery journal this camsys can read; it is left as it is";
    return "the unsaved changes from " + readableTime(found.entry->time) + " in " + journal +
           " were made to another version of " + sceneFile +
           (base == "none" ? " (the file is gone now)" : " (the file changed since)") +
           "; they are not applied, and the journal is kept";
}

std::string foundJournalNote(const FoundJournal& found, const std::string& sceneFile, const std::string& base) {
    if (journalMatches(found, base))
        return sceneFile + " has unsaved changes from " + readableTime(found.entry->time) + " in " +
               fileName(found.path) + "; the page offers to recover or discard them (or start with --recover)";
    return journalRefusal(found, sceneFile, base) +
           (found.entry ? ": the page offers them as a scene file to download; --discard-recovery removes it"
                        : "; --discard-recovery removes it");
}

void Journal::follow(const std::string& sceneFile, std::string base, bool lookForOne) {
    if (!enabled_) return;
    const std::string path = journalPathOf(sceneFile);
    if (path != path_) {
        // Saved as another file: the changes journaled for the old one are in the new one now.
        removeOwn();
        path_ = path;
    }
    base_ = std::move(base);
    keptRevision_.reset();
    if (!lookForOne || path_.empty()) return;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    found_ = FoundJournal{path_, journalFromText(text)};
}

void Journal::keep(std::uint64_t revision, bool unsaved, bool soon) {
    if (!enabled() || keptRevision_ == revision) return;
    if (!unsaved) {
        removeOwn();
        keptRevision_ = revision;
        return;
    }
    if (soon && owned_ && std::chrono::steady_clock::now() - lastWrite_ < kJournalGestureGap) return;
    write(revision);
}

void Journal::write(std::uint64_t revision) {
    keptRevision_ = revision;
    std::error_code ignored;
    if (!owned_ && std::filesystem::exists(path_, ignored)) {
        fail(fileName(path_) + " holds unsaved changes of an earlier session, not yet recovered or discarded; "
                               "until it is, the changes made here are not journaled");
        return;
    }
    try {
        std::string scene = host::sceneToJson(host_);
        host::writeFileAtomically(path_, journalToText({base_, utcNow(), scene}));
        written_ = {revision, std::move(scene)};
        owned_ = true;
        lastWrite_ = std::chrono::steady_clock::now();
        error_.clear();
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

void Journal::removeOwn() {
    if (!owned_) return;
    owned_ = false;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void Journal::fail(const std::string& why) {
    // Reported once, not at every change: the page shows it from the status.
    if (error_ != why)
        std::fprintf(stderr, "camsys studio: no recovery journal: %s; editing goes on, save to keep the changes\n",
                     why.c_str());
    error_ = why;
}

void Journal::adoptFound() {
    found_.reset();
    owned_ = true;
    keptRevision_.reset();
}

void Journal::discardFound() {
    if (!found_) return;
    std::error_code error;
    std::filesystem::remove(found_->path, error);
    if (error) throw std::runtime_error("cannot remove " + found_->path + ": " + error.message());
    found_.reset();
    keptRevision_.reset();
    error_.clear();
}

}  // namespace studio
