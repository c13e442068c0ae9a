#include "studio/server/FileState.h"

#include <filesystem>
#include <fstream>
#include <span>

#include "base/AtomicFile.h"
#include "scene/AttributeValues.h"
#include "scene/JsonSceneReader.h"
#include "scene/JsonSceneWriter.h"
#include "scene/SceneFile.h"
#include "scene/ScoFile.h"
#include "studio/server/ApiErrors.h"

namespace studio {

namespace {

std::optional<std::string> readFileIf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

/// {"file": the journal kept (null: none), "error": why it could not be written (null: it was)}.
std::string journalStatus(const Journal& journal) {
    return JsonObject()
        .value("file", journal.enabled() ? host::jsonString(journal.path()) : "null")
        .value("error", journal.error().empty() ? "null" : host::jsonString(journal.error()))
        .json();
}

bool isSco(const std::string& bytes) {
    return host::isScoImage(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace

FileState::FileState(Session& session, std::string file, bool journal, host::OptionalLevel level)
    : session_(session), file_(std::move(file)), level_(std::move(level)), journal_(session.host(), journal) {
    if (std::optional<std::string> bytes = readFileIf(file_)) {
        bytes_ = std::move(bytes);
        sco_ = isSco(*bytes_);
    } else {
        // A new file: its name says the format it gets on the first save.
        sco_ = file_.ends_with(".sco");
    }
    journal_.follow(file_, versionOf(bytes_), true);
}

std::string FileState::status() const {
    const std::uint64_t revision = session_.editor().revision();
    return JsonObject()
        .text("file", file_)
        .text("format", sco_ ? "sco" : "json")
        .number("revision", revision)
        // A scene that has no file yet is unsaved until its first save creates it.
        .flag("unsaved", unsaved())
        .flag("changedOnDisk", readFileIf(file_) != bytes_)
        .value("journal", journalStatus(journal_))
        .json();
}

std::pair<std::string, bool> FileState::target(const std::optional<std::string>& as) const {
    if (file_ == "-" && !as) throw BadRequest("the scene came from standard input: save it under a name (save as)");
    if (!as) return {file_, sco_};
    const std::string& name = *as;
    if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
        name.front() == '.' || name.find('\0') != std::string::npos)
        throw BadRequest("save as takes a plain file name in the scene's folder (no folder, no leading dot)");
    const bool json = name.ends_with(".json");
    if (!json && !name.ends_with(".sco")) throw BadRequest("save as takes a name ending in .json or .sco");
    return {(std::filesystem::path(file_).parent_path() / name).string(), !json};
}

std::string FileState::save(const std::optional<std::string>& as, bool overwrite) {
    const auto [path, asSco] = target(as);
    if (!overwrite) {
        if (path == file_) {
            const std::optional<std::string> now = readFileIf(file_);
            if (now != bytes_)
                throw Conflict(file_ + (now ? " changed on disk" : " was removed") +
                                   " since it was loaded or saved; reload it, or save with overwrite",
                               JsonObject().flag("changedOnDisk", true));
        } else if (std::filesystem::exists(path)) {
            throw Conflict(path + " exists; save with overwrite to replace it", JsonObject().flag("exists", true));
        }
    }
    std::string bytes;
    if (asSco) {
        const std::vector<std::uint8_t> image = host::sceneToScoImage(session_.host(), level_);
        bytes.assign(image.begin(), image.end());
    } else {
        bytes = host::sceneToJson(session_.host(), level_);
    }
    try {
        host::writeFileAtomically(path, bytes);
    } catch (const std::exception& error) {
        throw Conflict(std::string("cannot save: ") + error.what(), {});
    }
    file_ = path;
    sco_ = asSco;
    bytes_ = std::move(bytes);
    savedState_ = session_.editor().sceneState();
    journal_.follow(file_, versionOf(bytes_));
    return status();
}

JsonObject FileState::reload() {
    const std::optional<std::string> bytes = readFileIf(file_);
    if (!bytes) throw BadRequest("cannot read " + file_);
    const bool sco = isSco(*bytes);
    host::OptionalLevel level;
    JsonObject answer = session_.changed([&] {
        session_.editor().replace("reload " + std::filesystem::path(file_).filename().string(), [&](host::Host& h) {
            const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                                     bytes->size());
            if (sco)
                host::loadScoScene(h, data, file_, &level);
            else
                host::loadJsonScene(h, *bytes, file_, &level);
        });
        return host::EditEffect::Other;
    });
    bytes_ = *bytes;
    sco_ = sco;
    level_ = std::move(level);
    savedState_ = session_.editor().sceneState();
    journal_.follow(file_, versionOf(bytes_));
    return answer;
}

}  // namespace studio

namespace studio {

void FileState::keepJournal(bool soon) {
    const std::uint64_t revision = session_.editor().revision();
    journal_.keep(revision, unsaved(), soon);
}

std::string FileState::sceneFileJson() {
    // The page keeps this after every change, for when the server is gone: one writing of the
    // scene serves the journal and the page.
    keepJournal(false);
    if (const std::string* scene = journal_.sceneAt(session_.editor().revision())) return *scene;
    return host::sceneToJson(session_.host());
}

std::string FileState::recovery() const {
    JsonObject answer = JsonObject().value("journal", journalStatus(journal_));
    const std::optional<FoundJournal>& found = journal_.found();
    if (!found) return answer.value("found", "null").json();
    const std::string base = versionOf(bytes_);
    JsonObject about = JsonObject().text("journal", found->path).flag("readable", found->entry.has_value());
    if (found->entry) about.text("time", found->entry->time);
    about.flag("matches", journalMatches(*found, base));
    if (!journalMatches(*found, base)) about.text("refusal", journalRefusal(*found, file_, base));
    return answer.value("found", about.json()).json();
}

JsonObject FileState::recover() {
    const std::optional<FoundJournal>& found = journal_.found();
    if (!found) throw NotFound("no unsaved changes of an earlier session were found beside " + file_);
    const std::string base = versionOf(bytes_);
    if (!journalMatches(*found, base))
        throw Conflict(journalRefusal(*found, file_, base), JsonObject().flag("refused", true));
    const std::string scene = found->entry->scene, path = found->path, time = found->entry->time;
    JsonObject answer = session_.changed([&] {
        session_.editor().replace("recover unsaved changes", [&](host::Host& h) { host::loadJsonScene(h, scene, path); });
        return host::EditEffect::Other;
    });
    journal_.adoptFound();
    return std::move(answer.text("recovered", time));
}

std::string FileState::discardRecovery() {
    if (!journal_.found()) throw NotFound("no unsaved changes of an earlier session were found beside " + file_);
    const std::string path = journal_.found()->path;
    try {
        journal_.discardFound();
    } catch (const std::exception& error) {
        throw Conflict(error.what(), {});
    }
    return JsonObject().text("discarded", path).json();
}

}  // namespace studio
