"""camsys: scenes, flights and checks of the camera-system plug-in, from Python.

The same loader, errors, flights and checks as the camsys tool, bit for bit:

    import camsys
    scene = camsys.Scene.load("examples/flythrough.json")
    scene["W1"]["Range"] = 25.0                  # through the editor, all or nothing
    flight = scene.fly("Cam", start=0, step=16)  # numpy arrays: time, waypoint, eye, axes, fov
    findings = scene.lint()                      # Finding(id, severity, object, time, ...)
"""

import json as _json
import math as _math
from collections import namedtuple as _namedtuple

from ._camsys import Analysis, Flight, InputError, Scene, plugin_path
from . import _camsys

__all__ = ["Scene", "SceneObject", "ObjectInfo", "Finding", "Flight", "Analysis", "InputError", "fit_path",
           "plugin_path"]
__version__ = getattr(_camsys, "__version__", "")

ObjectInfo = _namedtuple("ObjectInfo", "name class_name parent position")
ObjectInfo.__doc__ = ("One object of a scene: its name, its plug-in class (None for a plain host object), "
                      "its parent's name (None at top level) and its position (x, y, z).")

Finding = _namedtuple("Finding", "id severity object time distance text hint")
Finding.__doc__ = ("What `camsys lint` found: the check's id, 'info'|'warning'|'error', the object, the tick's "
                   "clock time and the distance on the path (None where none), the text and the hint.")


def _number(value):
    """A float as a scene file writes it: the words for what JSON has no number for."""
    if isinstance(value, float) and not _math.isfinite(value):
        return "NaN" if _math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    return value


def _float(value):
    """A float as a scene file writes it, read back ("NaN", "Infinity" and "-Infinity" included)."""
    return float(value.replace("Infinity", "inf")) if isinstance(value, str) else float(value)


def _values(value):
    if isinstance(value, (list, tuple)):
        return [_number(v) for v in value]
    if hasattr(value, "tolist"):  # numpy scalars and arrays
        return _values(value.tolist())
    return _number(value)


def _edit_text(attributes=None, position=None, orientation=None):
    """An edit as the editor takes it: a scene file entry's keys, built as JSON from values."""
    edit = {}
    if position is not None:
        edit["position"] = _values(position)
    if orientation is not None:
        rows = _values(orientation)
        edit["orientation"] = [v for row in rows for v in row] if rows and isinstance(rows[0], list) else rows
    if attributes:
        edit["attributes"] = {name: _values(value) for name, value in attributes.items()}
    return _json.dumps(edit, allow_nan=False)


class SceneObject:
    """An object of a scene by name: its attributes as items, its position, its edits.

    Reading gives the values as the scene file writes them: floats, whole numbers, booleans,
    (x, y, z) tuples, an object's name or None for references. Writing goes through the editor
    (as in the studio): checked like a scene file's value, all or nothing, one undo step; a
    mistake raises InputError and leaves the scene as it was.
    """

    def __init__(self, scene, name):
        self.scene = scene
        self.name = name

    def __repr__(self):
        return "<camsys.SceneObject %r>" % self.name

    def _values(self):
        values = {}
        for name, text, is_float in self.scene._attributes(self.name):
            value = _json.loads(text)
            if isinstance(value, list):  # a point: three floats
                value = tuple(_float(v) for v in value)
            elif is_float:
                value = _float(value)
            values[name] = value
        return values

    @property
    def attributes(self):
        """Every attribute a scene file carries, by name, with its value (a dict copy)."""
        return self._values()

    def __getitem__(self, attribute):
        values = self._values()
        if attribute not in values:
            raise KeyError(attribute)
        return values[attribute]

    def __setitem__(self, attribute, value):
        self.update({attribute: value})

    def __contains__(self, attribute):
        return attribute in self._values()

    @property
    def position(self):
        """The object's position (x, y, z); set it to move the object (its path refits)."""
        for info in self.scene.objects:
            if info.name == self.name:
                return info.position
        raise KeyError(self.name)

    @position.setter
    def position(self, xyz):
        self.update(position=xyz)

    def update(self, attributes=None, position=None, orientation=None):
        """Sets several values at once: a dict of attributes, the position, the orientation (nine
        floats row by row, or 3 x 3). One change: all or nothing, one undo step."""
        self.scene._edit(self.name, _edit_text(attributes, position, orientation))


def _objects(self):
    return [ObjectInfo(*row) for row in self._objects()]


def _getitem(self, name):
    if not self._has(name):
        raise KeyError(name)
    return SceneObject(self, name)


def _edit(self, edits):
    """Edits several objects as one change and one undo step, all or nothing: a dict of name to a
    dict with any of "attributes" (a dict), "position" and "orientation"."""
    self._edit_all([(name, _edit_text(e.get("attributes"), e.get("position"), e.get("orientation")))
                    for name, e in edits.items()])


def _lint(self, iterator=None, start=0, step=16, level=None, overshoot=0.25, speed_jump=3.0,
          acceleration=200.0, jerk=10000.0, vertical=2.0, clearance=0.5, occluded=250):
    """The findings of `camsys lint` as a list of Finding, in the scene's order.

    iterator: the flight to check (None: every iterator). level: None the scene's own, a file
    name (from the working folder) in its place, False none (camsys lint's --level, --no-level).
    The thresholds are camsys lint's options, with its defaults."""
    return [Finding(*f) for f in self._lint(iterator, start, step, level, overshoot, speed_jump, acceleration,
                                             jerk, vertical, clearance, occluded)]


_objects.__doc__ = "The scene's objects in pre-order (a parent before its children), as ObjectInfo."
Scene.objects = property(_objects)
_getitem.__doc__ = "The object named `name` as a SceneObject (KeyError when the scene has none)."
Scene.__getitem__ = _getitem
def _contains(self, name):
    """Whether the scene has an object named `name`."""
    return self._has(name)


Scene.__contains__ = _contains


def _add(self, class_name=None, name=None, parent=None, index=None, position=None, orientation=None,
         attributes=None, copy_of=None):
    """Adds an object and answers it as a SceneObject: of `class_name` (e.g.
    "SCOCameraSystemWaypoint"; None: a plain host object, a target), named `name` (None: a free
    name from the class), in `parent`'s child list at `index` (None: at the end; no parent: the
    top level), with the position, orientation and attributes given, or first a copy of the
    object `copy_of`'s class, orientation and values. The parent path refits. One change: all or
    nothing, one undo step."""
    made = self._create(class_name or "", name or "", parent or "", index,
                        _edit_text(attributes, position, orientation), copy_of or "")
    return SceneObject(self, made)


def _remove(self, name):
    """Deletes the object `name` and its children, as one undo step. References to them from other
    objects (a waypoint's PointsTo, an iterator's Path) then name none; answers those as a list of
    (object, attribute, target)."""
    return [tuple(r) for r in self._remove(name)]


def _delitem(self, name):
    """del scene[name]: remove(name)."""
    self.remove(name)


Scene.add = _add
Scene.remove = _remove
Scene.__delitem__ = _delitem
Scene.edit = _edit
Scene.lint = _lint


def fit_path(times, eyes, axes, fov, tolerance=0.25, angle=1.0, report=False):
    """A recorded camera move as an editable path (`camsys import`): returns a Scene with the path
    "Flight" and the iterator "Cam", whose flight stays within `tolerance` units of the recorded
    eye and `angle` degrees of its view at every sample.

    times: n clock times (ms, increasing); eyes: (n, 3); axes: (n, 3, 3) as Flight.axes; fov: n
    field-of-view values. report=True returns (scene, dict of the fit's figures). A recording
    that cannot become a path raises InputError naming the sample."""
    scene, figures = _camsys._fit_path(times, eyes, axes, fov, tolerance, angle)
    return (scene, figures) if report else scene
