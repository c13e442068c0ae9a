#pragma once
/// The recovery journal: while the scene has unsaved changes the studio keeps the whole scene in
/// a hidden file beside the scene's file, ".NAME.camsys-recovery" for NAME, so that a studio that
/// is killed, crashes or is stopped without saving loses nothing. The first line names the
/// version of the file the changes were made to and when the journal was written; the rest is
/// the scene as saving it as JSON writes it:
///
///   camsys-recovery 1 base=fnv1a64:0123456789abcdef time=2026-12-07T13:40:34Z
///   {
///     "objects": [ ... ]
///   }
///
/// `base` is "none" when the scene had no file. A journal is applied only to the version of the
/// file it was made from: changes to another version would silently undo whatever changed the
/// file meanwhile.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/Host.h"

namespace studio {

/// ".NAME.camsys-recovery" beside `sceneFile`; empty for standard input ("-"), which has no place.
std::string journalPathOf(const std::string& sceneFile);
/// The version of a file's bytes as a journal names it: "fnv1a64:" and 16 hex digits; "none"
/// without bytes (no file).
std::string versionOf(const std::optional<std::string>& bytes);

struct JournalEntry {
    std::string base;   ///< versionOf the file the changes were made to
    std::string time;   ///< when written, UTC, as 2026-12-07T13:40:34Z
    std::string scene;  ///< the scene as a JSON scene file
};

std::string journalToText(const JournalEntry& entry);
/// The entry of a journal's text; none when the text is no journal.
std::optional<JournalEntry> journalFromText(std::string_view text);

/// A journal that was there when the studio started: changes a studio made and never saved.
struct FoundJournal {
    std::string path;
    /// None when the file is no journal this program can read (it is kept all the same).
    std::optional<JournalEntry> entry;
};

/// Drag steps come many times a second; the journal of them is written at most this often.
inline constexpr std::chrono::milliseconds kJournalGestureGap{500};

/// Keeps the journal of one scene up to date. Nothing it does throws: a journal that cannot be
/// written is reported (once, on standard error and in `error`) and editing goes on.
class Journal {
public:
    /// `enabled`: false keeps no journal (scripts and tests that serve a scene in-process).
    Journal(const host::Host& host, bool enabled) : host_(host), enabled_(enabled) {}

    /// The scene's file is `sceneFile` (loaded, or saved as), whose version is `base`. When
    /// `lookForOne`, a journal already beside it becomes `found`.
    void follow(const std::string& sceneFile, std::string base, bool lookForOne = false);
    /// Writes the journal of the scene at `revision` when it has `unsaved` changes, or removes
    /// the one this studio wrote when it has none. `soon`: a drag's step, whose journal may wait
    /// until kJournalGestureGap after the last one written (a later call writes it).
    void keep(std::uint64_t revision, bool unsaved, bool soon);
    /// The journal found at start, until it is recovered or discarded.
    const std::optional<FoundJournal>& found() const { return found_; }
    /// The found journal was recovered: this studio keeps it up to date from now on.
    void adoptFound();
    /// Removes the found journal. Throws std::runtime_error when it cannot.
    void discardFound();

    /// The scene as last journaled, when that was at `revision` (saves a second writing of it).
    const std::string* sceneAt(std::uint64_t revision) const {
        return keptRevision_ == revision && written_.first == revision && owned_ ? &written_.second : nullptr;
    }

    bool enabled() const { return enabled_ && !path_.empty(); }
    const std::string& path() const { return path_; }
    /// Why the journal could not be written last time; empty when it was.
    const std::string& error() const { return error_; }

private:
    void write(std::uint64_t revision);
    void removeOwn();
    void fail(const std::string& why);

    const host::Host& host_;
    bool enabled_;
    std::string path_;
    std::string base_;
    std::optional<FoundJournal> found_;
    bool owned_ = false;  ///< the file at `path_` is this studio's journal
    std::optional<std::uint64_t> keptRevision_;
    std::chrono::steady_clock::time_point lastWrite_{};
    std::pair<std::uint64_t, std::string> written_;  ///< the revision and scene last written
    std::string error_;
};

/// "2026-12-07 13:40:34 UTC" for a journal's time "2026-12-07T13:40:34Z".
std::string readableTime(std::string time);
/// What `camsys studio` says first about a found journal of `sceneFile` whose version now is `base`.
std::string foundJournalNote(const FoundJournal& found, const std::string& sceneFile, const std::string& base);
/// Whether the found journal may be applied to the file of version `base`.
bool journalMatches(const FoundJournal& found, const std::string& base);
/// Why the found journal is not applied to `sceneFile` of version `base`.
std::string journalRefusal(const FoundJournal& found, const std::string& sceneFile, const std::string& base);

}  // namespace studio
