#include "host/Host.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "framework/ModuleRuntime.h"
#include "host/ClassStorage.h"

namespace host {

namespace {

/// Bounds on walks through tables the plug-in hands us, so that a broken table cannot hang us.
constexpr std::size_t kMaxFactories = 256;
constexpr std::size_t kMaxGroups = 64;
constexpr ULong kMaxAttributes = 4096;

/// Room for any class name a `GetAttributeInfo` may copy (the longest of ours has 23 characters).
constexpr std::size_t kClassNameRoom = 256;

ISCO_RtsObject* rts(RtsObject* object) { return static_cast<ISCO_RtsObject*>(object); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and shut-down

Host::Host(const std::string& pluginPath) : plugin_(pluginPath) { start(); }

Host::Host(SetIRTSFunction setIRTS, GetObjectFactoriesFunction getObjectFactories)
    : plugin_(setIRTS, getObjectFactories) {
    start();
}

namespace {

/// The runtime each plug-in entry point and the framework were last given, for nested hosts.
std::map<SetIRTSFunction, IRTS*>& pluginRuntimes() {
    static std::map<SetIRTSFunction, IRTS*> runtimes;
    return runtimes;
}
IRTS*& moduleRuntime() {
    static IRTS* runtime = nullptr;
    return runtime;
}

}  // namespace

void Host::start() {
    // The host's own objects are framework RtsObjects too, with the framework's own runtime
    // pointer (the plug-in has a hidden copy of the framework); both point at this runtime.
    previousModuleRuntime_ = std::exchange(moduleRuntime(), &runtime_);
    previousPluginRuntime_ = std::exchange(pluginRuntimes()[plugin_.setIRTS()], &runtime_);
    SetModuleRuntime(&runtime_);
    plugin_.setIRTS()(&runtime_);
    RtsObjectFactory** table = plugin_.getObjectFactories()();
    for (std::size_t i = 0; table && i < kMaxFactories && table[i]; ++i) {
        RtsObjectFactory* factory = table[i];
        FactoryInfo info{factory,
                         factory->pszClassName ? factory->pszClassName : "",
                         factory->GetClassGUID(),
                         factory->GetSCOVersion().GetVersion(),
                         {}};
        for (ULong g = 0; g < kMaxGroups; ++g) {
            const char* group = factory->GetSCOGroup(g);
            if (!group) break;
            info.groups.emplace_back(group);
        }
        factories_.push_back(std::move(info));
    }
}

Host::~Host() {
    runtime_.destroyAll();
    moduleRuntime() = previousModuleRuntime_;
    SetModuleRuntime(previousModuleRuntime_);
    pluginRuntimes()[plugin_.setIRTS()] = previousPluginRuntime_;
    // A plug-in handed no runtime keeps its last one; it is not called again in that case.
    if (previousPluginRuntime_) plugin_.setIRTS()(previousPluginRuntime_);
}

// ---------------------------------------------------------------------------------------------
// Objects

Handle Host::create(std::string_view className, std::string name, const Handle& parent) {
    for (const FactoryInfo& info : factories_) {
        if (info.className != className) continue;
        RtsObjectFactory* factory = info.factory;
        const Handle made = runtime_.add(std::move(name), parent, ObjectKind::Module,
                                         [factory](const CGUID& guid, const CGUID& second, ISCODescriptor* d) {
                                             return factory->New(guid, second, d);
                                         });
        if (made.IsNull()) throw std::runtime_error("factory of " + info.className + " made no object");
        return made;
    }
    throw std::invalid_argument("no factory for class " + std::string(className));
}

Handle Host::createPlain(std::string name, const _Point3<float>& position, const Handle& parent) {
    const Handle made = runtime_.add(
        std::move(name), parent, ObjectKind::Plain,
        [](const CGUID& guid, const CGUID& second, ISCODescriptor* d) { return new HostObject(guid, second, d); });
    runtime_.object(made)->ObjectPos.Origin = position;
    return made;
}

Handle Host::createRegistry(std::string name, const Handle& parent) {
    return runtime_.add(
        std::move(name), parent, ObjectKind::Registry,
        [](const CGUID& guid, const CGUID& second, ISCODescriptor* d) { return new BoundsRegistry(guid, second, d); });
}

Handle Host::createCamera(std::string name, bool accepts) {
    const Handle made = runtime_.add(
        std::move(name), Handle(), ObjectKind::Camera,
        [](const CGUID& guid, const CGUID& second, ISCODescriptor* d) { return new GameCamera(guid, second, d); });
    static_cast<GameCamera*>(runtime_.object(made))->setAccepts(accepts);
    runtime_.setCamera(made);
    return made;
}

HostObject* Host::plainObject(const Handle& object) const {
    return runtime_.kind(object) == ObjectKind::Plain ? static_cast<HostObject*>(runtime_.object(object)) : nullptr;
}

BoundsRegistry* Host::boundsRegistry(const Handle& object) const {
    return runtime_.kind(object) == ObjectKind::Registry ? static_cast<BoundsRegistry*>(runtime_.object(object))
                                                         : nullptr;
}

GameCamera* Host::camera() const {
    const Handle& camera = runtime_.camera();
    return runtime_.kind(camera) == ObjectKind::Camera ? static_cast<GameCamera*>(runtime_.object(camera)) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Attributes

std::vector<AttributeInfo> Host::attributes(const Handle& handle) const {
    std::vector<AttributeInfo> result;
    RtsObject* object = runtime_.object(handle);
    if (!object) return result;
    char className[kClassNameRoom];
    for (ULong index = 0; index < kMaxAttributes; ++index) {
        Attribute record{};
        className[0] = '\0';
        if (!rts(object)->GetAttributeInfo(index, &record, className, true)) break;
        className[kClassNameRoom - 1] = '\0';
        result.push_back({record, className});
    }
    return result;
}

std::vector<Attribute> Host::ownAttributes(const Handle& handle) const {
    std::vector<Attribute> records;
    RtsObject* object = runtime_.object(handle);
    if (!object) return records;
    for (ULong index = 0; index < kMaxAttributes; ++index) {
        Attribute record{};
        if (!rts(object)->GetAttributeInfo(index, &record, nullptr, false)) break;
        records.push_back(record);
    }
    return records;
}

std::string Host::className(const Handle& handle) const {
    RtsObject* object = runtime_.object(handle);
    if (!object) return "";
    char className[kClassNameRoom] = {};
    Attribute record{};
    rts(object)->GetAttributeInfo(0, &record, className, false);
    className[kClassNameRoom - 1] = '\0';
    return className;
}

bool Host::findAttribute(const Handle& handle, std::string_view name, Attribute& record) const {
    RtsObject* object = runtime_.object(handle);
    if (!object) return false;
    char className[kClassNameRoom];
    for (ULong index = 0; index < kMaxAttributes; ++index) {
        Attribute candidate{};
        if (!rts(object)->GetAttributeInfo(index, &candidate, className, true)) return false;
        if (std::string_view(candidate.Name, strnlen(candidate.Name, sizeof candidate.Name)) == name) {
            record = candidate;
            return true;
        }
    }
    return false;
}

std::size_t Host::valueSize(const Attribute& record) const {
    std::int32_t size = 0;
    TypeRegistry types;  // the same answers the runtime gives the plug-in
    if (!types.GetTypeInfo(record.Type, nullptr, &size, nullptr, nullptr) || size <= 0) return 0;
    return static_cast<std::size_t>(size) * record.Count;
}

bool Host::setAttribute(const Handle& object, std::string_view name, std::span<const std::uint8_t> value) {
    return write(object, name, 0, value.data(), value.size());
}

bool Host::setAttribute(const Handle& object, const Attribute& record, std::span<const std::uint8_t> value) {
    return write(object, record, 0, value.data(), value.size());
}

std::optional<std::vector<std::uint8_t>> Host::getAttribute(const Handle& object, std::string_view name) const {
    Attribute record{};
    if (!findAttribute(object, name, record)) return std::nullopt;
    return getAttribute(object, record);
}

std::optional<std::vector<std::uint8_t>> Host::getAttribute(const Handle& object, const Attribute& record) const {
    RtsObject* target = runtime_.object(object);
    if (!target || !record.Get) return std::nullopt;
    std::vector<std::uint8_t> value(valueSize(record));
    if (value.empty()) return std::nullopt;
    record.Get(target, value.data());
    return value;
}

bool Host::write(const Handle& object, std::string_view name, ULong type, const void* bytes, std::size_t size) {
    Attribute record{};
    return findAttribute(object, name, record) && write(object, record, type, bytes, size);
}

bool Host::write(const Handle& object, const Attribute& record, ULong type, const void* bytes, std::size_t size) {
    if (!runtime_.object(object) || !record.Set) return false;
    if ((type != 0 && record.Type != type) || size == 0 || valueSize(record) != size) return false;
    // Setters take a non-const buffer; they get a copy of ours.
    std::vector<std::uint8_t> buffer(static_cast<const std::uint8_t*>(bytes),
                                     static_cast<const std::uint8_t*>(bytes) + size);
    return record.Set(runtime_.object(object), buffer.data());
}

bool Host::read(const Handle& object, std::string_view name, ULong type, void* bytes, std::size_t size) const {
    Attribute record{};
    if (!findAttribute(object, name, record) || !record.Get) return false;
    if (record.Type != type || valueSize(record) != size) return false;
    std::vector<std::uint8_t> buffer(size);
    record.Get(runtime_.object(object), buffer.data());
    std::memcpy(bytes, buffer.data(), size);
    return true;
}

bool Host::setFloat(const Handle& object, std::string_view name, float value) {
    return write(object, name, kTypeFloat, &value, sizeof value);
}

std::optional<float> Host::getFloat(const Handle& object, std::string_view name) const {
    float value;
    if (!read(object, name, kTypeFloat, &value, sizeof value)) return std::nullopt;
    return value;
}

bool Host::setULong(const Handle& object, std::string_view name, ULong value) {
    return write(object, name, kTypeULong, &value, sizeof value);
}

std::optional<ULong> Host::getULong(const Handle& object, std::string_view name) const {
    ULong value;
    if (!read(object, name, kTypeULong, &value, sizeof value)) return std::nullopt;
    return value;
}

bool Host::setBool(const Handle& object, std::string_view name, bool value) {
    const std::uint8_t byte = value ? 1 : 0;
    return write(object, name, kTypeBool, &byte, 1);
}

std::optional<bool> Host::getBool(const Handle& object, std::string_view name) const {
    std::uint8_t byte;  // read as a byte: whatever the object stored, no invalid bool is formed
    if (!read(object, name, kTypeBool, &byte, 1)) return std::nullopt;
    return byte != 0;
}

bool Host::setPoint(const Handle& object, std::string_view name, const _Point3<float>& value) {
    return write(object, name, kTypePoint, &value, sizeof value);
}

std::optional<_Point3<float>> Host::getPoint(const Handle& object, std::string_view name) const {
    _Point3<float> value;
    if (!read(object, name, kTypePoint, &value, sizeof value)) return std::nullopt;
    return value;
}

bool Host::setReference(const Handle& object, std::string_view name, const Handle& target) {
    return write(object, name, kTypeGuidRef, &target.Guid, sizeof target.Guid);
}

std::optional<Handle> Host::getReference(const Handle& object, std::string_view name) const {
    _GUID value;
    if (!read(object, name, kTypeGuidRef, &value, sizeof value)) return std::nullopt;
    return Handle(value);
}

bool Host::setObjectPos(const Handle& object, const _CCoordSystem<float>& frame) {
    float buffer[12];
    PackObjectPos(frame, buffer);
    return write(object, "ObjectPos", kTypeObjectPos, buffer, sizeof buffer);
}

std::optional<_CCoordSystem<float>> Host::getObjectPos(const Handle& object) const {
    float buffer[12];
    if (!read(object, "ObjectPos", kTypeObjectPos, buffer, sizeof buffer)) return std::nullopt;
    return UnpackObjectPos(buffer);
}

// ---------------------------------------------------------------------------------------------
// Editor notifications

bool Host::notifyAttributeChanged(const Handle& object, std::string_view attribute) {
    CInterfacePtr<ISCO_ScenewrightFeedback> feedback(object);
    if (!feedback) return false;
    std::string name(attribute);  // the operation takes a writable string
    feedback->OnAttributChanged(name.data());
    return true;
}

bool Host::notifyPositionChanged(const Handle& object) {
    CInterfacePtr<ISCO_ScenewrightFeedback> feedback(object);
    if (!feedback) return false;
    feedback->OnPositionChanged();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Loading and saving

void Host::afterLoadAll() {
    // Copy: AfterLoad may not create objects today, but the list must not move under us.
    const std::vector<Handle> objects = runtime_.objects();
    for (const Handle& handle : objects) afterLoad(handle);
}

void Host::afterLoad(const Handle& handle) {
    if (RtsObject* object = runtime_.object(handle)) rts(object)->AfterLoad();
}

std::optional<std::vector<std::uint8_t>> Host::save(const Handle& handle) {
    RtsObject* object = runtime_.object(handle);
    if (!object) return std::nullopt;
    MemoryStream stream;
    if (rts(object)->Serialize(&stream) != 1) return std::nullopt;
    return stream.bytes();
}

bool Host::load(const Handle& handle, std::span<const std::uint8_t> record, std::size_t* unread) {
    RtsObject* object = runtime_.object(handle);
    if (!object) return false;
    MemoryStream stream(record);
    const bool loaded = rts(object)->Serialize(&stream) == 1;
    if (unread) *unread = stream.remaining();
    return loaded;
}

bool Host::reload(const Handle& handle, std::span<const std::uint8_t> record) {
    RtsObject* old = runtime_.object(handle);
    if (!old || runtime_.kind(handle) != ObjectKind::Module) return false;
    const std::string name = className(handle);
    const auto info =
        std::find_if(factories_.begin(), factories_.end(), [&](const FactoryInfo& f) { return f.className == name; });
    if (info == factories_.end()) return false;
    // Load into a detached instance first: a record that does not load leaves the scene alone.
    RtsObjectFactory* factory = info->factory;
    RtsObject* fresh = factory->New(CGUID(handle.Guid), old->SecondGuid, runtime_.descriptor(handle));
    if (!fresh) return false;
    MemoryStream stream(record);
    if (rts(fresh)->Serialize(&stream) != 1) {
        delete fresh;
        return false;
    }
    const bool marked = rts(old)->GetMark() != 0;
    runtime_.replace(handle, CGUID(), [fresh](const CGUID&, const CGUID&, ISCODescriptor*) { return fresh; });
    if (marked) rts(fresh)->SetMark();
    rts(fresh)->AfterLoad();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Activation and flights

void Host::activate(const Handle& object, ULong time) {
    runtime_.setNow(time);
    runtime_.activate(object, Handle(), time);
}

void Host::deactivate(const Handle& object, ULong time) {
    runtime_.setNow(time);
    runtime_.deactivate(object, Handle(), time);
}

void Host::run(const Handle& handle, ULong time) {
    runtime_.setNow(time);
    if (RtsObject* object = runtime_.object(handle)) rts(object)->Run(time);
}

bool Host::tick(const Handle& iterator, ULong time) {
    return tick(iterator, runtime_.object(iterator), camera(), time);
}

bool Host::tick(const Handle& iterator, RtsObject* object, GameCamera* gameCamera, ULong time) {
    runtime_.setNow(time);
    if (object) rts(object)->Run(time);
    const std::size_t logged = runtime_.activationLog().size();
    runtime_.deliverRequests();
    if (gameCamera) gameCamera->readEye();
    const auto& log = runtime_.activationLog();
    for (std::size_t i = logged; i < log.size(); ++i)
        if (log[i].kind == ActivationKind::Deactivate && log[i].target == iterator) return true;
    return false;
}

FlightResult Host::fly(const Handle& iterator, ULong start, ULong step, std::size_t maxTicks,
                       const TickCallback& onTick) {
    return fly(iterator, start, [start, step](std::size_t index) { return ULong(start + ULong(index) * step); },
               maxTicks, onTick);
}

FlightResult Host::fly(const Handle& iterator, ULong start, const TickTimes& timeOf, std::size_t maxTicks,
                       const TickCallback& onTick) {
    FlightResult result;
    RtsObject* object = runtime_.object(iterator);
    if (!object) return result;

    // Activation counts as part of the first tick's time: what it asks for is delivered at once.
    activate(iterator, start);
    runtime_.deliverRequests();

    GameCamera* gameCamera = camera();
    result.cameraTaken = gameCamera && gameCamera->master() == iterator;
    for (std::size_t index = 0; index < maxTicks; ++index) {
        const ULong time = timeOf(index);
        const bool ended = tick(iterator, object, gameCamera, time);
        if (onTick) {
            static const _CCoordSystem<float> noEye;
            onTick(time, index, gameCamera ? gameCamera->eye() : noEye, gameCamera ? gameCamera->fov() : 1.0f);
        }
        result.ticks = index + 1;
        result.lastTime = time;
        if (ended) return result;
    }
    result.hitLimit = true;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Editor drawing

SceneDrawing Host::drawScene(std::vector<DrawCall> reuse) {
    RecordingRenderer& recorder = defaultRecorder();
    recorder.clear();
    // Recorded straight into `reuse`; the recorder gets its own buffer back at the end.
    reuse.clear();
    recorder.swapCalls(reuse);
    // Whoever pointed REU elsewhere gets it back, also when a Draw3D throws.
    struct RestoreRenderer {
        IRenderEngineUtility* saved;
        ~RestoreRenderer() { REU = saved; }
    } restore{REU};
    REU = &recorder;

    SceneDrawing drawing;
    // Copy: drawing may not create objects today, but the list must not move under us.
    const std::vector<Handle> objects = runtime_.objects();
    // At most one group and one label an object: a long path's drawing grows no lists step by step.
    drawing.groups.reserve(objects.size());
    drawing.labels.reserve(objects.size());
    for (const Handle& handle : objects) {
        CInterfacePtr<ISCO_GCDrawSelf> drawer(handle);
        if (!drawer) continue;
        const std::size_t first = recorder.calls().size();
        drawer->Draw3D(nullptr);
        const std::size_t count = recorder.calls().size() - first;
        if (count != 0) drawing.groups.push_back({handle, first, count});
    }
    for (const Handle& handle : objects) {
        CInterfacePtr<ISCO_CSWayPoint> waypoint(handle);
        RtsObject* object = runtime_.object(handle);
        if (!waypoint || !object) continue;
        const _CCoordSystem<float>* frame = rts(object)->GetObjectPos();
        if (frame) drawing.labels.push_back({frame->Origin, runtime_.nameOf(handle)});
    }
    drawing.dropped = recorder.dropped();
    recorder.swapCalls(reuse);
    drawing.calls = std::move(reuse);
    return drawing;
}

}  // namespace host
