// The API's changes of the scene and its file, and the history of changes.

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

#include "flight/MovePresets.h"
#include "flight/Retime.h"
#include "flight/lint/LintFix.h"
#include "scene/ObjectEdit.h"
#include "studio/server/Api.h"
#include "studio/server/ApiErrors.h"
#include "studio/server/MoveRequest.h"
#include "studio/server/Query.h"

namespace studio {

namespace {

using Json = nlohmann::json;

/// The body of a change: a JSON object (empty: {}). Refused with 409 when it names a revision
/// other than `revision`, the scene's. `object`: the object the change is to, for the words of
/// a number out of range.
Json changeBody(const Request& request, std::initializer_list<std::string_view> known, std::uint64_t revision,
                const std::string& object = {}) {
    // JSON only: a form's body would be read as query parameters, and pages of other sites can
    // post forms (the token stops them too).
    const std::string type = lowerCase(request.headers.contentType);
    if (!request.body.empty() && type.rfind("application/json", 0) != 0)
        throw BadRequest("a change's body must be JSON (Content-Type: application/json)");
    Query(request, {});
    Json body = Json::object();
    if (!request.body.empty()) {
        body = Json::parse(request.body, nullptr, false);
        // What is not JSON is refused in the scene loader's words (where, and why).
        if (body.is_discarded()) host::checkEditText(request.body, object);
        if (body.is_discarded() || !body.is_object()) throw BadRequest("the body must be a JSON object");
    }
    for (const auto& [key, value] : body.items())
        if (key != "revision" && std::find(known.begin(), known.end(), key) == known.end())
            throw BadRequest("unknown key \"" + key + "\" in the body");
    if (const auto given = body.find("revision"); given != body.end()) {
        if (!given->is_number_unsigned()) throw BadRequest("\"revision\" must be a whole number");
        if (given->get<std::uint64_t>() != revision)
            throw Conflict("the scene has changed since revision " + std::to_string(given->get<std::uint64_t>()) +
                               " (another tab or script edited it); reload the scene",
                           JsonObject().number("revision", revision));
    }
    return body;
}

std::string textOf(const Json& body, const char* key, bool required = false) {
    const auto found = body.find(key);
    if (found == body.end() || found->is_null()) {
        if (required) throw BadRequest(std::string("\"") + key + "\" is missing");
        return {};
    }
    if (!found->is_string()) throw BadRequest(std::string("\"") + key + "\" must be a string");
    return found->get<std::string>();
}

/// References by name as a JSON array of {object, attribute, target}.
std::string referrersJson(const std::vector<host::SceneEditor::Referrer>& referrers) {
    std::string json = "[";
    for (const host::SceneEditor::Referrer& r : referrers)
        json += (json.size() > 1 ? "," : "") +
                JsonObject().text("object", r.object).text("attribute", r.attribute).text("target", r.target).json();
    return json + "]";
}

/// The options of a retime in a request's body ("speed" or "even", "from", "to").
host::RetimeOptions retimeOptions(const Json& body) {
    host::RetimeOptions options;
    const auto speed = body.find("speed");
    const auto even = body.find("even");
    if ((speed != body.end()) == (even != body.end()))
        throw BadRequest("give one of \"speed\" (units per second) and \"even\": true");
    if (speed != body.end()) {
        if (!speed->is_number()) throw BadRequest("\"speed\" must be a number");
        options.speed = speed->get<double>();
    } else if (*even != true) {
        throw BadRequest("\"even\" must be true");
    }
    options.from = textOf(body, "from");
    options.to = textOf(body, "to");
    return options;
}

std::size_t indexOf(const Json& body, bool required) {
    const auto at = body.find("index");
    if (at == body.end()) {
        if (required) throw BadRequest("\"index\" (a whole number) is missing");
        return std::numeric_limits<std::size_t>::max();
    }
    if (!at->is_number_unsigned()) throw BadRequest("\"index\" must be a whole number");
    return at->get<std::size_t>();
}

/// The keys each kind of edit of a batch takes besides "op".
const std::vector<std::pair<std::string, std::vector<std::string>>>& batchOps() {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> ops = {
        {"patch", {"name", "position", "orientation", "attributes", "rename"}},
        {"create", {"class", "name", "parent", "index", "position", "orientation", "attributes", "copyOf"}},
        {"delete", {"name"}},
        {"move", {"name", "parent", "index"}},
        {"retime", {"name", "speed", "even", "from", "to"}},
    };
    return ops;
}

/// Checks the shape of a batch's edit (not the objects it names: an earlier edit may make them).
void checkBatchEdit(const Json& edit) {
    if (!edit.is_object()) throw BadRequest("an edit must be a JSON object");
    const std::string op = textOf(edit, "op", true);
    const auto& ops = batchOps();
    const auto kind = std::find_if(ops.begin(), ops.end(), [&](const auto& o) { return o.first == op; });
    if (kind == ops.end()) throw BadRequest("unknown \"op\" \"" + op + "\" (patch, create, delete, move, retime)");
    for (const auto& [key, value] : edit.items())
        if (key != "op" && std::find(kind->second.begin(), kind->second.end(), key) == kind->second.end())
            throw BadRequest("unknown key \"" + key + "\" in a " + op + " edit");
    if (op != "create") textOf(edit, "name", true);
    if (op == "retime") retimeOptions(edit);
    if (op == "move") indexOf(edit, true);
    if (op == "create") indexOf(edit, false);
}

/// Applies one edit of a batch; the names of objects it makes go to `made`.
void applyBatchEdit(Session& session, const Json& edit, std::vector<std::string>& made) {
    host::SceneEditor& editor = session.editor();
    const std::string op = textOf(edit, "op", true);
    const std::string name = textOf(edit, "name");
    auto objectNamed = [&](const char* key, const char* role) {
        const std::string named = textOf(edit, key);
        return named.empty() ? Handle() : session.sceneObject(named, role);
    };
    if (op == "patch") {
        std::optional<std::string> rename;
        if (edit.contains("rename")) rename = textOf(edit, "rename", true);
        editor.edit(session.sceneObject(name), edit.dump(), {"op", "name", "rename"}, {}, rename);
    } else if (op == "create") {
        const Handle object = editor.create(textOf(edit, "class"), name, objectNamed("parent", "parent"),
                                            indexOf(edit, false), edit.dump(),
                                            {"op", "class", "name", "parent", "index", "copyOf"},
                                            objectNamed("copyOf", "object"));
        made.push_back(session.host().nameOf(object));
    } else if (op == "delete") {
        editor.remove(session.sceneObject(name));
    } else if (op == "move") {
        editor.move(session.sceneObject(name), objectNamed("parent", "parent"), indexOf(edit, true));
    } else {
        const host::RetimePlan plan = host::planRetime(session.host(), session.sceneObject(name), retimeOptions(edit));
        host::applyRetime(editor, plan);
    }
}

/// A whole number of the body up to 2^32 - 1 (a clock time), `fallback` when absent.
ULong timeOf(const Json& body, const char* key, ULong fallback) {
    const auto found = body.find(key);
    if (found == body.end()) return fallback;
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() > std::numeric_limits<ULong>::max())
        throw BadRequest(std::string("\"") + key + "\" must be a whole number of milliseconds below 2^32");
    return static_cast<ULong>(found->get<std::uint64_t>());
}

}  // namespace

/// The fix of one finding of GET /api/lint's list (its index, with the revision that list was of),
/// or of every finding that has one ("all"), linting again after each, as one undo step.
std::string Api::fixLint(const Request& request, const std::string&) {
    const Json body =
        changeBody(request, {"finding", "all", "iterator", "start", "step"}, session_.editor().revision());
    host::LintOptions options;
    options.level = session_.level();
    if (const std::string iterator = textOf(body, "iterator"); !iterator.empty()) {
        options.iterator = session_.iteratorNamed(iterator);
        if (options.iterator->IsNull()) throw BadRequest("no iterator is named \"" + iterator + "\"");
    }
    options.start = timeOf(body, "start", 0);
    options.step = timeOf(body, "step", 16);
    if (options.step == 0) throw BadRequest("\"step\" must be at least 1: time must move");
    const auto finding = body.find("finding");
    const auto all = body.find("all");
    if ((finding != body.end()) == (all != body.end()))
        throw BadRequest("give one of \"finding\" (an index of GET /api/lint's list) and \"all\": true");
    host::Host& host = session_.host();
    host::SceneEditor& editor = session_.editor();
    const std::vector<host::LintFinding> findings = host::lintScene(
        host, options,
        [&](const Handle& iterator, const host::FlightOptions& f) { return session_.flight(iterator, f).recording; });
    std::vector<std::string> fixed;
    if (finding != body.end()) {
        // An index means something only in the list it was read from.
        if (!body.contains("revision")) throw BadRequest("\"finding\" needs the \"revision\" its list was read at");
        if (!finding->is_number_unsigned()) throw BadRequest("\"finding\" must be a whole number");
        const std::uint64_t index = finding->get<std::uint64_t>();
        if (index >= findings.size())
            throw BadRequest("there is no finding " + std::to_string(index) + " (the list has " +
                             std::to_string(findings.size()) + ")");
        const host::LintFinding& chosen = findings[index];
        if (!chosen.fix) throw BadRequest(chosen.id + " of " + chosen.object + " has no fix");
        fixed.push_back(chosen.fix->label);
        return session_
            .changed(
                [&] {
                    host::applyLintFix(editor, host, *chosen.fix);
                    return host::EditEffect::Other;
                },
                JsonObject().value("fixed", stringListJson(fixed)))
            .json();
    }
    if (*all != true) throw BadRequest("\"all\" must be true");
    if (std::none_of(findings.begin(), findings.end(), [](const host::LintFinding& f) { return f.fix.has_value(); }))
        throw BadRequest("no finding has a fix");
    JsonObject answer = session_.changed([&] {
        // Linted again after each fix with flights of their own: the session's are of the scene
        // before the change.
        editor.group("fix lint findings", [&] {
            const host::LintFixRun run =
                host::fixLintFindings(editor, host, [&] { return host::lintScene(host, options); }, false);
            for (const host::LintFinding& f : run.fixed) fixed.push_back(f.fix->label);
        });
        return host::EditEffect::Other;
    });
    return answer.value("fixed", stringListJson(fixed)).json();
}

std::string Api::getHistory(const Request& request, const std::string&) {
    Query(request, {});
    const host::SceneEditor& editor = session_.editor();
    return JsonObject()
        .number("revision", editor.revision())
        .value("undo", stringListJson(editor.undoLabels()))
        .value("redo", stringListJson(editor.redoLabels()))
        .json();
}

std::string Api::patchObject(const Request& request, const std::string& name) {
    const Json body =
        changeBody(request, {"position", "orientation", "attributes", "name", "gesture"}, session_.editor().revision(), name);
    const Handle object = session_.sceneObject(name);
    const std::string gesture = textOf(body, "gesture");
    gestureStep_ = !gesture.empty();
    std::optional<std::string> rename;
    if (body.contains("name")) rename = textOf(body, "name", true);
    return session_
        .changed(
            [&] {
                return session_.editor().edit(object, request.body, {"name", "gesture", "revision"}, gesture, rename);
            },
            // Only the steps of one gesture answer with the drawing's changes; other edits, the
            // whole drawing.
            {}, gesture.empty() ? std::string() : gesture + "\n" + name)
        .json();
}

std::string Api::createObject(const Request& request, const std::string&) {
    const Json body =
        changeBody(request, {"class", "name", "parent", "index", "position", "orientation", "attributes", "copyOf"},
                   session_.editor().revision());
    const std::string parentName = textOf(body, "parent");
    const Handle parent = parentName.empty() ? Handle() : session_.sceneObject(parentName, "parent");
    const std::string copyName = textOf(body, "copyOf");
    const Handle copyOf = copyName.empty() ? Handle() : session_.sceneObject(copyName);
    const std::size_t index = indexOf(body, false);
    Handle made;
    JsonObject answer = session_.changed([&] {
        made = session_.editor().create(textOf(body, "class"), textOf(body, "name"), parent, index, request.body,
                                        {"class", "name", "parent", "index", "copyOf", "revision"}, copyOf);
        return host::EditEffect::Other;
    });
    return answer.text("object", session_.host().nameOf(made)).json();
}

std::string Api::deleteObject(const Request& request, const std::string& name) {
    changeBody(request, {}, session_.editor().revision());
    const Handle object = session_.sceneObject(name);
    std::vector<host::SceneEditor::Referrer> cleared;
    JsonObject answer = session_.changed([&] {
        cleared = session_.editor().remove(object);
        return host::EditEffect::Other;
    });
    return answer.value("cleared", referrersJson(cleared)).json();
}

std::string Api::retimePath(const Request& request, const std::string& name) {
    const Json body = changeBody(request, {"speed", "even", "from", "to"}, session_.editor().revision(), name);
    const Handle path = session_.sceneObject(name);
    const host::RetimeOptions options = retimeOptions(body);
    // Planned before the change: a refusal leaves the scene and its history as they were.
    const host::RetimePlan plan = host::planRetime(session_.host(), path, options);
    return session_
        .changed([&] {
            host::applyRetime(session_.editor(), plan);
            return host::EditEffect::Other;
        })
        .number("totalBefore", plan.totalBefore)
        .number("totalAfter", plan.totalAfter)
        .json();
}

std::string Api::applyBatch(const Request& request, const std::string&) {
    const Json body = changeBody(request, {"label", "edits"}, session_.editor().revision());
    const std::string label = textOf(body, "label", true);
    const auto edits = body.find("edits");
    if (edits == body.end() || !edits->is_array() || edits->empty())
        throw BadRequest("\"edits\" must be a non-empty array");
    for (std::size_t i = 0; i < edits->size(); ++i) {
        try {
            checkBatchEdit((*edits)[i]);
        } catch (const BadRequest& error) {
            throw BadRequest("edits[" + std::to_string(i) + "]: " + error.what());
        }
    }
    host::SceneEditor& editor = session_.editor();
    std::vector<std::string> made;
    JsonObject answer = session_.changed([&] {
        editor.group(label, [&] {
            for (std::size_t i = 0; i < edits->size(); ++i) {
                try {
                    applyBatchEdit(session_, (*edits)[i], made);
                } catch (const host::InputError& error) {
                    throw host::InputError("edits[" + std::to_string(i) + "]", error.object(), error.attribute(),
                                           error.reason());
                } catch (const BadRequest& error) {
                    throw host::InputError("edits[" + std::to_string(i) + "]", "", "", error.what());
                }
            }
        });
        return host::EditEffect::Other;
    });
    return answer.value("created", stringListJson(made)).json();
}

/// A standard move (flight/MovePresets) as a new path, its waypoints and an iterator flying it,
/// in one undo step; lifted clear of the level when the studio has one, as `camsys add-move` does.
std::string Api::addMove(const Request& request, const std::string&) {
    changeBody(request,
               {"kind", "target", "radius", "height", "turns", "perTurn", "direction", "from", "to", "through", "path",
                "offset", "speed", "clearance"},
               session_.editor().revision());
    const MoveRequest asked = moveRequestFromJson(request.body);
    // Planned before the change: a refusal leaves the scene and its history as they were.
    host::MovePlan plan;
    try {
        plan = host::planMove(session_.host(), host::moveOptionsFromArguments(asked.kind, asked.arguments, ""),
                              session_.level(), "");
    } catch (const host::InputError& error) {
        throw host::InputError("", "", moveRequestKey(error.attribute()), error.reason());
    }
    host::AddedMove added;
    JsonObject answer = session_.changed([&] {
        session_.editor().group(std::string("add ") + host::moveKindWord(asked.kind) + " move",
                                [&] { added = host::addMove(session_.host(), session_.editor(), asked.kind, plan); });
        return host::EditEffect::Other;
    });
    return answer.text("path", added.path)
        .text("iterator", added.iterator)
        .value("waypoints", stringListJson(added.waypoints))
        .number("lifted", plan.lifted)
        .number("duration", plan.duration)
        .json();
}

std::string Api::getReferrers(const Request& request, const std::string& name) {
    Query(request, {});
    return JsonObject()
        .value("referrers", referrersJson(session_.editor().referrers(session_.sceneObject(name))))
        .json();
}

std::string Api::moveObject(const Request& request, const std::string& name) {
    const Json body = changeBody(request, {"parent", "index"}, session_.editor().revision());
    const Handle object = session_.sceneObject(name);
    const std::string parentName = textOf(body, "parent");
    const Handle parent = parentName.empty() ? Handle() : session_.sceneObject(parentName, "parent");
    const std::size_t index = indexOf(body, true);
    return session_
        .changed([&] {
            session_.editor().move(object, parent, index);
            return host::EditEffect::Other;
        })
        .json();
}

std::string Api::undo(const Request& request, const std::string&) { return undoOrRedo(request, true); }

std::string Api::redo(const Request& request, const std::string&) { return undoOrRedo(request, false); }

std::string Api::undoOrRedo(const Request& request, bool undo) {
    host::SceneEditor& editor = session_.editor();
    changeBody(request, {}, editor.revision());
    const std::vector<std::string> labels = undo ? editor.undoLabels() : editor.redoLabels();
    if (labels.empty()) throw Conflict(undo ? "there is nothing to undo" : "there is nothing to redo", {});
    const std::string label = undo ? labels.back() : labels.front();
    return session_
        .changed(
            [&] {
                if (undo)
                    editor.undo();
                else
                    editor.redo();
                return host::EditEffect::Other;
            },
            JsonObject().text("label", label))
        .json();
}

std::string Api::save(const Request& request, const std::string&) {
    const Json body = changeBody(request, {"as", "overwrite"}, session_.editor().revision());
    bool overwrite = false;
    if (const auto o = body.find("overwrite"); o != body.end()) {
        if (!o->is_boolean()) throw BadRequest("\"overwrite\" must be true or false");
        overwrite = o->get<bool>();
    }
    std::optional<std::string> as;
    if (body.contains("as")) as = textOf(body, "as");
    return file_.save(as, overwrite);
}

std::string Api::reload(const Request& request, const std::string&) {
    changeBody(request, {}, session_.editor().revision());
    return file_.reload().json();
}

std::string Api::getSceneFile(const Request& request, const std::string&) {
    Query(request, {});
    return file_.sceneFileJson();
}

std::string Api::getRecovery(const Request& request, const std::string&) {
    Query(request, {});
    return file_.recovery();
}

std::string Api::getRecoveredScene(const Request& request, const std::string&) {
    Query(request, {});
    const std::optional<FoundJournal>& found = file_.journal().found();
    if (!found || !found->entry) throw NotFound("no journal of unsaved changes was found that holds a scene");
    return found->entry->scene;
}

std::string Api::applyRecovery(const Request& request, const std::string&) {
    changeBody(request, {}, session_.editor().revision());
    return file_.recover().json();
}

std::string Api::discardRecovery(const Request& request, const std::string&) {
    changeBody(request, {}, session_.editor().revision());
    return file_.discardRecovery();
}

}  // namespace studio
