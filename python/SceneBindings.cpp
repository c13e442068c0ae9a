// Scene: loading, reading, editing, flying, checking and writing, each through the library code
// camsys's commands use. The GIL is released while the scene works.
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "flight/lint/Checks.h"
#include "python/Bindings.h"
#include "python/ScriptScene.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace pycamsys {

namespace {

using Release = py::call_guard<py::gil_scoped_release>;

/// A clock value (ms): a whole number from 0 to 2^32 - 1.
ULong clockValue(const char* name, std::int64_t value) {
    if (value < 0 || value > 0xFFFFFFFFll)
        throw std::invalid_argument(std::string(name) + " must be a whole number from 0 to 4294967295");
    return static_cast<ULong>(value);
}

host::FlightOptions flightOptions(std::int64_t start, std::int64_t step, std::int64_t maxTicks) {
    host::FlightOptions options{clockValue("start", start), clockValue("step", step), 0};
    if (options.step == 0) throw std::invalid_argument("step must be at least 1: time must move");
    if (maxTicks < 0) throw std::invalid_argument("max_ticks must not be negative");
    options.maxTicks = static_cast<std::size_t>(maxTicks);
    return options;
}

/// level=None: the scene's own; a file name: that level; False: none.
LevelChoice levelChoice(const py::object& level) {
    if (level.is_none()) return {};
    if (py::isinstance<py::bool_>(level)) {
        if (level.cast<bool>()) throw std::invalid_argument("level: a file name, None (the scene's own) or False (none)");
        return {LevelChoice::Kind::None, {}};
    }
    return {LevelChoice::Kind::File, py::str(level)};
}

/// A threshold as camsys lint's options take it: finite, at least 0 (`positive`: above 0).
double limit(const char* name, double value, bool positive) {
    if (!std::isfinite(value) || value < 0 || (positive && value == 0))
        throw std::invalid_argument(std::string(name) + " must be a finite number " + (positive ? "above 0" : "of at least 0"));
    return value;
}

py::tuple findingTuple(const host::LintFinding& f) {
    return py::make_tuple(f.id, host::severityWord(f.severity), f.object,
                          f.time ? py::object(py::int_(*f.time)) : py::object(py::none()),
                          f.distance ? py::object(py::float_(*f.distance)) : py::object(py::none()), f.text,
                          host::lintHint(f.id));
}

}  // namespace

void bindScene(py::module_& module) {
    py::class_<Scene>(module, "Scene", R"(A scene in a host of its own, loaded and checked as camsys does it.

Several scenes live side by side and may be used from several threads at once (one call at a
time per scene). Edits go through the editor the studio uses: all or nothing, with undo.)")
        .def_static("load", &Scene::load, py::arg("path"), Release(),
                    "Loads a scene file, JSON or .sco by content, as `camsys` loads SCENE ('-': standard input).\n"
                    "Raises InputError with the tool's message (FILE: OBJECT: ATTRIBUTE: what).")
        .def_static("from_json", &Scene::fromJson, py::arg("text"), py::arg("file") = "-", Release(),
                    "A scene from JSON text; `file` names it in messages (and its level reference is relative\n"
                    "to the working folder, as for standard input). Raises InputError.")
        .def_static("new", &Scene::starter, Release(),
                    "The starter scene of `camsys new`: a path of two waypoints and an iterator 'Cam'.")
        .def_property_readonly("file", &Scene::file, "The name the scene goes by in messages.")
        .def_property_readonly("level", &Scene::levelPath,
                               "The level file the scene names (relative to its folder), or None.")
        .def("_objects", [](Scene& s) {
            std::vector<py::tuple> rows;
            for (const ObjectRow& row : s.objects()) {
                py::object position = py::none();
                if (row.position) position = py::make_tuple(row.position->x, row.position->y, row.position->z);
                rows.push_back(py::make_tuple(row.name, row.className, row.parent, position));
            }
            return rows;
        })
        .def("_has", &Scene::hasObject, Release())
        .def("_attributes",
             [](Scene& s, const std::string& object) {
                 py::list values;
                 for (const auto& [name, value] : s.attributes(object))
                     values.append(py::make_tuple(name, value.json, value.isFloat));
                 return values;
             })
        .def("_edit", &Scene::edit, Release())
        .def("_edit_all", &Scene::editAll, Release())
        .def("_create", &Scene::create, Release())
        .def(
            "_remove",
            [](Scene& s, const std::string& name) {
                std::vector<host::SceneEditor::Referrer> cleared;
                {
                    py::gil_scoped_release release;
                    cleared = s.remove(name);
                }
                py::list answer;
                for (const auto& r : cleared) answer.append(py::make_tuple(r.object, r.attribute, r.target));
                return answer;
            })
        .def("undo", &Scene::undo, Release(), "Undoes the last edit; False when there is none.")
        .def("redo", &Scene::redo, Release(), "Redoes the last undone edit; False when there is none.")
        .def(
            "fly",
            [](Scene& s, const std::optional<std::string>& iterator, std::int64_t start, std::int64_t step,
               std::int64_t maxTicks) {
                const host::FlightOptions options = flightOptions(start, step, maxTicks);
                py::gil_scoped_release free;
                return s.fly(iterator.value_or(""), options);
            },
            py::arg("iterator") = py::none(), py::arg("start") = 0, py::arg("step") = 16, py::arg("max_ticks") = 100000,
            R"(Flies the iterator (None: the only one) as `camsys fly` does, and returns the Flight.

Activated at `start`, ticked at start, start + step, ... (modulo 2^32) until the tick after
which it was deactivated, or `max_ticks` ticks. The same ticks as `camsys fly`, bit for bit;
the scene is left as it was.)")
        .def(
            "_lint",
            [](Scene& s, const std::optional<std::string>& iterator, std::int64_t start, std::int64_t step,
               const py::object& level, double overshoot, double speedJump, double acceleration, double jerk,
               double vertical, double clearance, std::int64_t occluded) {
                host::LintOptions options;
                const host::FlightOptions clock = flightOptions(start, step, 0);
                options.start = clock.start;
                options.step = clock.step;
                options.overshoot = limit("overshoot", overshoot, false);
                options.speedJump = limit("speed_jump", speedJump, true);
                options.acceleration = limit("acceleration", acceleration, false);
                options.jerk = limit("jerk", jerk, false);
                if (!(vertical >= 0 && vertical <= 90)) throw std::invalid_argument("vertical must be from 0 to 90 degrees");
                options.viewVertical = vertical;
                options.clearance = limit("clearance", clearance, false);
                options.occluded = clockValue("occluded", occluded);
                const LevelChoice choice = levelChoice(level);
                std::vector<host::LintFinding> findings;
                {
                    py::gil_scoped_release free;
                    findings = s.lint(iterator.value_or(""), options, choice);
                }
                py::list out;
                for (const host::LintFinding& f : findings) out.append(findingTuple(f));
                return out;
            },
            py::arg("iterator"), py::arg("start"), py::arg("step"), py::arg("level"), py::arg("overshoot"),
            py::arg("speed_jump"), py::arg("acceleration"), py::arg("jerk"), py::arg("vertical"),
            py::arg("clearance"), py::arg("occluded"))
        .def("to_json", &Scene::toJson, Release(), "The scene as `camsys load` prints it.")
        .def("save", &Scene::save, py::arg("path"), Release(), "Writes the scene as .sco, as `camsys save` does.")
        .def(
            "export",
            [](Scene& s, const std::string& path, const std::optional<std::string>& iterator, std::int64_t start,
               std::int64_t step, std::int64_t maxTicks, bool withLevel, const py::object& level) {
                const host::FlightOptions options = flightOptions(start, step, maxTicks);
                const LevelChoice choice = levelChoice(level);
                py::gil_scoped_release free;
                s.exportGltf(path, iterator.value_or(""), options, choice, withLevel);
            },
            py::arg("path"), py::arg("iterator") = py::none(), py::arg("start") = 0, py::arg("step") = 16,
            py::arg("max_ticks") = 100000, py::arg("with_level") = false, py::arg("level") = py::none(),
            R"(Writes the flight and the scene as glTF (.gltf or .glb), as `camsys export` does.

with_level: the level's triangles too (level: None the scene's own, or a file).)");
}

}  // namespace pycamsys
