// Flights as numpy arrays that view the recording's own buffer (no copy: each array's base is
// the Flight, which keeps the buffer alive), their analysis, and the recorder's fit.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "exchange/FlightCsv.h"
#include "python/Bindings.h"
#include "python/ScriptScene.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace pycamsys {

namespace {

/// A read-only array of `T` over `bytes` (offset into a buffer `owner` keeps alive).
template <typename T>
py::array viewOf(py::handle owner, const void* bytes, std::vector<py::ssize_t> shape,
                 std::vector<py::ssize_t> strides) {
    py::array view(py::dtype::of<T>(), std::move(shape), std::move(strides), bytes, owner);
    view.attr("setflags")(py::arg("write") = false);
    return view;
}

/// A column of the flight's ticks: `offset` bytes into each tick, `inner` the shape after n.
template <typename T>
py::array tickColumn(py::object self, std::size_t offset, std::vector<py::ssize_t> inner = {}) {
    const FlightData& flight = self.cast<const FlightData&>();
    const std::vector<host::FlightTick>& ticks = flight.recording.ticks;
    std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(ticks.size())};
    std::vector<py::ssize_t> strides{sizeof(host::FlightTick)};
    // Inner dimensions are packed floats: a point (3) or a matrix's rows (3, 3).
    py::ssize_t stride = sizeof(T);
    for (auto size = inner.rbegin(); size != inner.rend(); ++size) {
        strides.insert(strides.begin() + 1, stride);
        stride *= *size;
    }
    shape.insert(shape.end(), inner.begin(), inner.end());
    const auto* base = ticks.empty() ? nullptr : reinterpret_cast<const char*>(ticks.data()) + offset;
    return viewOf<T>(self, base, shape, strides);
}

/// A flight's analysis and the flight it measures (whose ticks its input shares).
struct AnalysisData {
    host::FlightAnalysis analysis;
};

py::array measureColumn(py::object self, std::size_t offset) {
    const AnalysisData& data = self.cast<const AnalysisData&>();
    const auto& ticks = data.analysis.ticks;
    const auto* base = ticks.empty() ? nullptr : reinterpret_cast<const char*>(ticks.data()) + offset;
    return viewOf<double>(self, base, {static_cast<py::ssize_t>(ticks.size())}, {sizeof(host::TickMeasures)});
}

std::shared_ptr<AnalysisData> analyse(const FlightData& flight, const py::object& level) {
    std::shared_ptr<const host::LevelGeometry> geometry;
    if (!level.is_none()) geometry = loadLevel(py::str(level));
    py::gil_scoped_release free;
    host::FlightAnalysisInput input = flight.analysisInput;
    input.ticks = flight.recording.ticks;
    input.level = geometry.get();
    auto data = std::make_shared<AnalysisData>();
    data->analysis = host::analyseFlight(input);
    return data;
}

/// The samples of a recording given as arrays of n times, eyes (n, 3), axes (n, 3, 3), fovs.
std::vector<host::RecordedEye> samplesOf(py::array_t<std::int64_t, py::array::forcecast> times,
                                         py::array_t<float, py::array::forcecast> eyes,
                                         py::array_t<float, py::array::forcecast> axes,
                                         py::array_t<float, py::array::forcecast> fov) {
    const py::ssize_t n = times.ndim() == 1 ? times.shape(0) : -1;
    if (n < 0 || eyes.ndim() != 2 || eyes.shape(0) != n || eyes.shape(1) != 3 || axes.ndim() != 3 ||
        axes.shape(0) != n || axes.shape(1) != 3 || axes.shape(2) != 3 || fov.ndim() != 1 || fov.shape(0) != n)
        throw std::invalid_argument("fit_path takes n times, eyes (n, 3), axes (n, 3, 3) and n fovs");
    auto t = times.unchecked<1>();
    auto e = eyes.unchecked<2>();
    auto a = axes.unchecked<3>();
    auto f = fov.unchecked<1>();
    std::vector<host::RecordedEye> samples(static_cast<std::size_t>(n));
    for (py::ssize_t k = 0; k < n; ++k) {
        if (t(k) < 0 || t(k) > 0xFFFFFFFFll)
            throw std::invalid_argument("fit_path: time " + std::to_string(t(k)) + " is no clock time (0 to 4294967295)");
        host::RecordedEye& sample = samples[static_cast<std::size_t>(k)];
        sample.time = static_cast<ULong>(t(k));
        sample.eye.Origin = {e(k, 0), e(k, 1), e(k, 2)};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) sample.eye.Orientation.m[i][j] = a(k, i, j);
        sample.fov = f(k);
    }
    return samples;
}

}  // namespace

void bindFlights(py::module_& module) {
    using host::FlightTick;
    py::class_<FlightData, std::shared_ptr<FlightData>>(module, "Flight", R"(A recorded flight: one row per tick, as `camsys fly` writes it.

The arrays are read-only views of the recording (no copies); they keep the flight alive.)")
        .def_property_readonly("iterator", [](const FlightData& f) { return f.iterator; }, "The iterator flown.")
        .def_property_readonly("start", [](const FlightData& f) { return f.options.start; }, "The activation time.")
        .def_property_readonly("step", [](const FlightData& f) { return f.options.step; }, "The time between ticks.")
        .def_property_readonly(
            "time", [](py::object self) { return tickColumn<std::uint32_t>(self, offsetof(FlightTick, time)); },
            "uint32 (n,): each tick's clock time (ms, modulo 2^32).")
        .def_property_readonly(
            "waypoint", [](py::object self) { return tickColumn<std::uint32_t>(self, offsetof(FlightTick, waypoint)); },
            "uint32 (n,): the iterator's ActualWayPointIndex after the tick.")
        .def_property_readonly(
            "eye",
            [](py::object self) {
                return tickColumn<float>(self, offsetof(FlightTick, eye) + offsetof(_CCoordSystem<float>, Origin), {3});
            },
            "float32 (n, 3): the eye's position (fly's x, y, z).")
        .def_property_readonly(
            "axes",
            [](py::object self) {
                return tickColumn<float>(self, offsetof(FlightTick, eye) + offsetof(_CCoordSystem<float>, Orientation),
                                         {3, 3});
            },
            "float32 (n, 3, 3): the eye's orientation row by row (fly's m00..m22); its columns are the\n"
            "right, forward and up axes.")
        .def_property_readonly(
            "fov", [](py::object self) { return tickColumn<float>(self, offsetof(FlightTick, fov)); },
            "float32 (n,): the field-of-view value the camera read.")
        .def_property_readonly(
            "events",
            [](const FlightData& f) {
                py::list events;
                for (const host::FlightEvent& e : f.recording.events)
                    events.append(py::make_tuple(e.time, host::eventWord(e.kind), e.detail));
                return events;
            },
            "The activations, deactivations and messages as (time, 'activate'|'deactivate'|'message',\n"
            "detail): what `camsys fly` prints on standard error.")
        .def_property_readonly("hit_limit", [](const FlightData& f) { return f.recording.hitLimit; },
                               "True when max_ticks ran out before the iterator was deactivated.")
        .def("__len__", [](const FlightData& f) { return f.recording.ticks.size(); }, "The number of ticks.")
        .def("to_csv", [](const FlightData& f) { return host::flightToCsv(f.recording); },
             "The flight as `camsys fly` writes it, byte for byte.")
        .def("analysis", &analyse, py::arg("level") = py::none(),
             R"(The studio's measures per tick (flight/FlightAnalysis.h) and the flight's marks.

level: a level file (.gltf/.glb, from the working folder) for the clearance and whether the
target is in sight; None measures without one (both NaN).)");

    py::class_<AnalysisData, std::shared_ptr<AnalysisData>> analysis(module, "Analysis", R"(Measures of a flight per tick, as float64 arrays (n,), read-only views.

NaN where a measure is not defined: the first ticks of a difference, across a cut, without a
target or a level.)");
    // The measures of every tick, each a column of its own.
    struct Measure {
        const char* name;
        std::size_t offset;
        const char* doc;
    };
    for (const Measure& m : {
             Measure{"speed", offsetof(host::TickMeasures, speed), "Units per second."},
             Measure{"acceleration", offsetof(host::TickMeasures, acceleration), "Units per second squared."},
             Measure{"jerk", offsetof(host::TickMeasures, jerk), "Units per second cubed."},
             Measure{"angular_rate", offsetof(host::TickMeasures, angularRate),
                     "Turn of the forward axis, degrees per second."},
             Measure{"roll_rate", offsetof(host::TickMeasures, rollRate),
                     "Turn about the forward axis, degrees per second (signed)."},
             Measure{"fov", offsetof(host::TickMeasures, fov), "The field-of-view value."},
             Measure{"target_distance", offsetof(host::TickMeasures, targetDistance),
                     "Eye to the look-at target or moving destination."},
             Measure{"clearance", offsetof(host::TickMeasures, clearance), "Eye to the nearest surface of the level."},
         })
        analysis.def_property_readonly(
            m.name, [offset = m.offset](py::object s) { return measureColumn(s, offset); }, m.doc);
    analysis
        .def_property_readonly(
            "target_visible",
            [](const AnalysisData& a) {
                py::array_t<double> visible(static_cast<py::ssize_t>(a.analysis.ticks.size()));
                auto out = visible.mutable_unchecked<1>();
                for (std::size_t k = 0; k < a.analysis.ticks.size(); ++k) {
                    const auto& seen = a.analysis.ticks[k].targetVisible;
                    out(static_cast<py::ssize_t>(k)) = seen ? (*seen ? 1.0 : 0.0) : std::nan("");
                }
                return visible;
            },
            "1 where no surface hides the target, 0 where one does, NaN without a level or target (a copy).")
        .def_property_readonly(
            "marks",
            [](const AnalysisData& a) {
                py::list marks;
                for (const host::FlightMark& m : a.analysis.marks)
                    marks.append(py::make_tuple(host::markWord(m.kind), m.time, m.end, m.waypoint));
                return marks;
            },
            "(kind, time, end, waypoint) in order of time; kind is 'waypoint', 'pause' or 'cut'.")
        .def("__len__", [](const AnalysisData& a) { return a.analysis.ticks.size(); });

    module.def(
        "_fit_path",
        [](py::array_t<std::int64_t, py::array::forcecast> times, py::array_t<float, py::array::forcecast> eyes,
           py::array_t<float, py::array::forcecast> axes, py::array_t<float, py::array::forcecast> fov,
           double tolerance, double angle) {
            if (!(std::isfinite(tolerance) && tolerance > 0) || !(std::isfinite(angle) && angle > 0))
                throw std::invalid_argument("fit_path: tolerance and angle must be finite and above 0");
            const std::vector<host::RecordedEye> samples = samplesOf(times, eyes, axes, fov);
            host::PathFitOptions options;
            options.tolerance = tolerance;
            options.angle = angle;
            std::pair<std::unique_ptr<Scene>, host::PathFitResult> fit;
            {
                py::gil_scoped_release free;
                fit = fitPath(samples, options);
            }
            const host::PathFitResult& r = fit.second;
            py::dict report("waypoints"_a = r.waypoints, "parts"_a = r.parts, "worst_distance"_a = r.worstDistance,
                            "worst_angle"_a = r.worstAngle, "rounds"_a = r.rounds,
                            "within_tolerance"_a = r.withinTolerance);
            return py::make_tuple(std::move(fit.first), report);
        },
        py::arg("times"), py::arg("eyes"), py::arg("axes"), py::arg("fov"), py::arg("tolerance"), py::arg("angle"));
}

}  // namespace pycamsys
