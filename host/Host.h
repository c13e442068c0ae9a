#pragma once
/// The stand-in host: loads the plug-in, creates and owns scene objects, edits their
/// attributes, saves and loads them, and flies camera iterators. Tests and tools use this.
///
/// The module keeps one process-wide runtime pointer, so one Host runs at a time per process.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/HostObjects.h"
#include "host/Plugin.h"
#include "host/Runtime.h"
#include "host/SceneDrawing.h"

namespace host {

/// What one factory of the plug-in says about its class.
struct FactoryInfo {
    RtsObjectFactory* factory;
    std::string className;
    _GUID classGuid;
    int version;
    std::vector<std::string> groups;
};

/// One attribute record as the object describes it, with the class that owns it.
struct AttributeInfo {
    Attribute record;
    std::string className;
};

/// Called after each tick of a flight: the tick's time, its index from 0, and the eye the
/// camera holds after reading it (frame and field of view).
using TickCallback = std::function<void(ULong time, std::size_t index, const _CCoordSystem<float>& frame, float fov)>;
/// The time of a flight's tick by its index from 0 (the iterator takes any time stamps).
using TickTimes = std::function<ULong(std::size_t index)>;

/// How a flight ended.
struct FlightResult {
    std::size_t ticks = 0;  ///< ticks run
    bool hitLimit = false;  ///< true when `maxTicks` ran out before the iterator was deactivated
    ULong lastTime = 0;     ///< time of the last tick run
    /// The game camera took the iterator as its master at the activation (before the first tick).
    bool cameraTaken = false;
};

/// [host imp] The host facade.
class Host {
public:
    /// Loads the plug-in library at `pluginPath` (throws std::runtime_error with the loader's
    /// text), hands it the runtime and reads its factories.
    explicit Host(const std::string& pluginPath);
    /// The same with entry points linked into the process (see module/InProcessModule.h).
    Host(SetIRTSFunction setIRTS, GetObjectFactoriesFunction getObjectFactories);
    /// Destroys every object, then closes the plug-in.
    ///
    /// A plug-in has one runtime per process (`SetIRTS`), so hosts of one plug-in nest: while a
    /// later host lives, the objects of an earlier one must not be called (they would talk to
    /// the later runtime); when it is destroyed, the earlier host's runtime is the plug-in's
    /// again.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // -- Factories and objects ----------------------------------------------------------------

    /// The plug-in's factories in the order it lists them.
    const std::vector<FactoryInfo>& factories() const { return factories_; }
    /// Creates an object of `className` through its factory's `New`, named `name`, appended to
    /// `parent`'s child list when given. Throws std::invalid_argument for an unknown class, a
    /// name in use or an unknown parent, std::runtime_error when `New` gives null.
    Handle create(std::string_view className, std::string name, const Handle& parent = Handle());
    /// A plain host object at `position`.
    Handle createPlain(std::string name, const _Point3<float>& position = {0, 0, 0}, const Handle& parent = Handle());
    /// A bounds registry.
    Handle createRegistry(std::string name, const Handle& parent = Handle());
    /// The game camera; from now on `GetCamera` names it.
    Handle createCamera(std::string name = "camera", bool accepts = true);
    /// An object of the caller's own class (tests).
    Handle add(std::string name, const Handle& parent, const ObjectMaker& make) {
        return runtime_.add(std::move(name), parent, ObjectKind::Other, make);
    }

    Handle find(std::string_view name) const { return runtime_.find(name); }
    const std::string& nameOf(const Handle& object) const { return runtime_.nameOf(object); }
    RtsObject* object(const Handle& object) const { return runtime_.object(object); }
    Descriptor* descriptor(const Handle& object) const { return runtime_.descriptor(object); }
    /// The host object, registry or camera named by the handle; null for any other object.
    HostObject* plainObject(const Handle& object) const;
    BoundsRegistry* boundsRegistry(const Handle& object) const;
    GameCamera* camera() const;

    // -- Attributes, by name, through GetAttributeInfo with the parents' records ----------------

    /// Every record of the object's table, most derived class first.
    std::vector<AttributeInfo> attributes(const Handle& object) const;
    /// The records of the object's own class only (no parents'), in table order.
    std::vector<Attribute> ownAttributes(const Handle& object) const;
    /// The class name the object reports with its own records ("" for an unknown object).
    std::string className(const Handle& object) const;
    /// Writes the attribute from `value`, which must hold exactly Count values of the type's
    /// size. False for an unknown object or attribute or a wrong size.
    bool setAttribute(const Handle& object, std::string_view name, std::span<const std::uint8_t> value);
    /// The same through a record the caller already took from the object's table.
    bool setAttribute(const Handle& object, const Attribute& record, std::span<const std::uint8_t> value);
    /// The attribute's value bytes, or nothing for an unknown object or attribute.
    std::optional<std::vector<std::uint8_t>> getAttribute(const Handle& object, std::string_view name) const;
    /// The same through a record the caller already took from the object's table.
    std::optional<std::vector<std::uint8_t>> getAttribute(const Handle& object, const Attribute& record) const;

    // Typed forms; each also checks the attribute's type code.
    bool setFloat(const Handle& object, std::string_view name, float value);
    std::optional<float> getFloat(const Handle& object, std::string_view name) const;
    bool setULong(const Handle& object, std::string_view name, ULong value);
    std::optional<ULong> getULong(const Handle& object, std::string_view name) const;
    bool setBool(const Handle& object, std::string_view name, bool value);
    std::optional<bool> getBool(const Handle& object, std::string_view name) const;
    bool setPoint(const Handle& object, std::string_view name, const _Point3<float>& value);
    std::optional<_Point3<float>> getPoint(const Handle& object, std::string_view name) const;
    /// A GUID reference attribute naming `target` (a null handle clears it).
    bool setReference(const Handle& object, std::string_view name, const Handle& target);
    std::optional<Handle> getReference(const Handle& object, std::string_view name) const;
    /// The "ObjectPos" attribute (its buffer puts the origin first; this takes a plain frame).
    bool setObjectPos(const Handle& object, const _CCoordSystem<float>& frame);
    std::optional<_CCoordSystem<float>> getObjectPos(const Handle& object) const;

    // -- Editor notifications (ISCO_ScenewrightFeedback), when the object answers it -----------

    bool notifyAttributeChanged(const Handle& object, std::string_view attribute);
    bool notifyPositionChanged(const Handle& object);

    // -- Loading and saving ---------------------------------------------------------------------

    /// `AfterLoad` on every object, in order of creation.
    void afterLoadAll();
    /// `AfterLoad` on one object (nothing for an unknown object).
    void afterLoad(const Handle& object);
    /// The object's record (its `Serialize` into a saving memory stream); nothing when
    /// `Serialize` answers 0.
    std::optional<std::vector<std::uint8_t>> save(const Handle& object);
    /// Replaces the plug-in object by a fresh instance of its class, made by its factory under the
    /// same GUID, loaded from `record` and brought up with `AfterLoad`: the object as loading a
    /// saved scene makes it, whatever state the old instance had gathered. Keeps the editor's
    /// mark. False (the old instance kept) for an object no factory makes or a record that does
    /// not load.
    bool reload(const Handle& object, std::span<const std::uint8_t> record);
    /// `Serialize` from a loading memory stream over `record`; true when it answers 1. `unread`,
    /// when given, receives the count of the record's bytes that `Serialize` left unread.
    bool load(const Handle& object, std::span<const std::uint8_t> record, std::size_t* unread = nullptr);

    // -- Activation and flights -----------------------------------------------------------------

    /// The host activates or deactivates an object directly (sender: none), at `time`.
    void activate(const Handle& object, ULong time);
    void deactivate(const Handle& object, ULong time);
    /// One tick of one object: the clock is set to `time`, then the object's `Run`.
    void run(const Handle& object, ULong time);
    /// One tick of a flight: the clock is set to `time`, the iterator's `Run`, the activation
    /// requests delivered, the camera reads the eye. True when the tick deactivated `iterator`.
    bool tick(const Handle& iterator, ULong time);
    /// Flies `iterator`: activates it at `start`, then ticks (`tick`) at start, start + step, ...
    /// (modulo 2^32), each followed by `onTick`. Stops after the tick in which the iterator was
    /// deactivated, or after `maxTicks` ticks.
    FlightResult fly(const Handle& iterator, ULong start, ULong step, std::size_t maxTicks,
                     const TickCallback& onTick = {});
    /// The same with tick k at `timeOf(k)` (a video's frames, a contact sheet's moments).
    FlightResult fly(const Handle& iterator, ULong start, const TickTimes& timeOf, std::size_t maxTicks,
                     const TickCallback& onTick = {});

    // -- Editor drawing ----------------------------------------------------------------------------

    /// The editor's 3D view of the scene: clears the default recorder, points `REU` at it for the
    /// duration, calls `Draw3D` on every object that answers `ISCO_GCDrawSelf` (in order of
    /// creation) and returns the calls made, with the name and position of every waypoint (an
    /// object that answers `ISCO_CSWayPoint`), whether it is switched on or not. The calls are
    /// recorded into the buffer of `reuse` (an earlier drawing's calls, dropped) and handed over,
    /// so that drawing every step of a drag copies and allocates nothing.
    SceneDrawing drawScene(std::vector<DrawCall> reuse = {});

    // -- What the runtime received ----------------------------------------------------------------

    const std::vector<MessageRecord>& messages() const { return runtime_.messages(); }
    const std::vector<AttributeChange>& editorLog() const { return runtime_.editor().changes(); }
    const std::vector<ActivationRecord>& activationLog() const { return runtime_.activationLog(); }
    Runtime& runtime() { return runtime_; }
    const Runtime& runtime() const { return runtime_; }

private:
    /// `tick` with the iterator's object and the camera already looked up (a flight's loop).
    bool tick(const Handle& iterator, RtsObject* object, GameCamera* gameCamera, ULong time);
    void start();
    /// Finds the attribute record `name`; false when the object or the attribute is unknown.
    bool findAttribute(const Handle& object, std::string_view name, Attribute& record) const;
    /// Bytes of one attribute value of `record` (type size times count); 0 for unknown types.
    std::size_t valueSize(const Attribute& record) const;
    /// Writes `size` bytes through `record`'s setter; `type` 0 takes any type code.
    bool write(const Handle& object, const Attribute& record, ULong type, const void* bytes, std::size_t size);
    bool write(const Handle& object, std::string_view name, ULong type, const void* bytes, std::size_t size);
    bool read(const Handle& object, std::string_view name, ULong type, void* bytes, std::size_t size) const;

    // Declared first so that it is destroyed last: the objects die before the library closes.
    Plugin plugin_;
    Runtime runtime_;
    /// The runtimes the plug-in and the framework had before this host, given back at the end.
    IRTS* previousPluginRuntime_ = nullptr;
    IRTS* previousModuleRuntime_ = nullptr;
    std::vector<FactoryInfo> factories_;
};

}  // namespace host
