# Types of the module camsys, for editors and type checkers (the calls are documented in
# __init__.py and the compiled part: help(camsys.Scene)).
from typing import Any, Iterable, Literal, Mapping, NamedTuple, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

class InputError(ValueError): ...

class ObjectInfo(NamedTuple):
    name: str
    class_name: Optional[str]
    parent: Optional[str]
    position: Optional[tuple[float, float, float]]

class Finding(NamedTuple):
    id: str
    severity: Literal["info", "warning", "error"]
    object: str
    time: Optional[int]
    distance: Optional[float]
    text: str
    hint: str

Value = Union[float, int, bool, str, None, tuple[float, float, float]]
Level = Union[None, Literal[False], str]

class Analysis:
    speed: npt.NDArray[np.float64]
    acceleration: npt.NDArray[np.float64]
    jerk: npt.NDArray[np.float64]
    angular_rate: npt.NDArray[np.float64]
    roll_rate: npt.NDArray[np.float64]
    fov: npt.NDArray[np.float64]
    target_distance: npt.NDArray[np.float64]
    clearance: npt.NDArray[np.float64]
    target_visible: npt.NDArray[np.float64]
    marks: list[tuple[Literal["waypoint", "pause", "cut"], int, int, int]]
    def __len__(self) -> int: ...

class Flight:
    iterator: str
    start: int
    step: int
    time: npt.NDArray[np.uint32]
    waypoint: npt.NDArray[np.uint32]
    eye: npt.NDArray[np.float32]
    axes: npt.NDArray[np.float32]
    fov: npt.NDArray[np.float32]
    events: list[tuple[int, Literal["activate", "deactivate", "message"], str]]
    hit_limit: bool
    def __len__(self) -> int: ...
    def to_csv(self) -> str: ...
    def analysis(self, level: Optional[str] = None) -> Analysis: ...

class SceneObject:
    scene: Scene
    name: str
    attributes: dict[str, Value]
    position: tuple[float, float, float]
    def __getitem__(self, attribute: str) -> Value: ...
    def __setitem__(self, attribute: str, value: Value) -> None: ...
    def __contains__(self, attribute: str) -> bool: ...
    def update(self, attributes: Optional[Mapping[str, Value]] = None,
               position: Optional[Sequence[float]] = None, orientation: Optional[Any] = None) -> None: ...

class Scene:
    file: str
    level: Optional[str]
    objects: list[ObjectInfo]
    @staticmethod
    def load(path: str) -> Scene: ...
    @staticmethod
    def from_json(text: str, file: str = "-") -> Scene: ...
    @staticmethod
    def new() -> Scene: ...
    def __getitem__(self, name: str) -> SceneObject: ...
    def __contains__(self, name: str) -> bool: ...
    def edit(self, edits: Mapping[str, Mapping[str, Any]]) -> None: ...
    def add(self, class_name: Optional[str] = None, name: Optional[str] = None, parent: Optional[str] = None,
            index: Optional[int] = None, position: Optional[Sequence[float]] = None,
            orientation: Optional[Sequence[Any]] = None, attributes: Optional[Mapping[str, Any]] = None,
            copy_of: Optional[str] = None) -> SceneObject: ...
    def remove(self, name: str) -> list[tuple[str, str, str]]: ...
    def __delitem__(self, name: str) -> None: ...
    def undo(self) -> bool: ...
    def redo(self) -> bool: ...
    def fly(self, iterator: Optional[str] = None, start: int = 0, step: int = 16,
            max_ticks: int = 100000) -> Flight: ...
    def lint(self, iterator: Optional[str] = None, start: int = 0, step: int = 16, level: Level = None,
             overshoot: float = 0.25, speed_jump: float = 3.0, acceleration: float = 200.0, jerk: float = 10000.0,
             vertical: float = 2.0, clearance: float = 0.5, occluded: int = 250) -> list[Finding]: ...
    def to_json(self) -> str: ...
    def save(self, path: str) -> None: ...
    def export(self, path: str, iterator: Optional[str] = None, start: int = 0, step: int = 16,
               max_ticks: int = 100000, with_level: bool = False, level: Level = None) -> None: ...

def fit_path(times: npt.ArrayLike, eyes: npt.ArrayLike, axes: npt.ArrayLike, fov: npt.ArrayLike,
             tolerance: float = 0.25, angle: float = 1.0, report: bool = False) -> Any: ...
def plugin_path() -> str: ...
