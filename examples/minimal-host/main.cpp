/// minimal-host: the smallest engine that flies a camera with the camera-system plug-in.
///
///   minimal-host [PLUGIN]
///
/// Loads the plug-in (default: the one installed with the SDK), builds the scene of scene.json
/// through the plug-in's factories and attribute tables, activates the iterator "Cam", ticks it
/// every 16 time units from time 0 until it asks to be deactivated, and writes the eye the game
/// camera read after each tick as CSV on standard output:
///
///   time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov
///
/// the same text as `camsys fly scene.json --iterator Cam`.

#include <dlfcn.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "HostRuntime.h"

#ifndef CAMERASYSTEM_PLUGIN_PATH
#error "CAMERASYSTEM_PLUGIN_PATH must name the plug-in (CMakeLists.txt sets it)"
#endif

using minimal::GameCamera;
using minimal::Runtime;
using minimal::SceneMarker;

namespace {

// ---------------------------------------------------------------------------------------------
// The plug-in: two undecorated entry points, looked up by name.

struct Plugin {
    void* library = nullptr;
    SetIRTSFunction setIRTS = nullptr;
    GetObjectFactoriesFunction getObjectFactories = nullptr;
};

bool loadPlugin(const char* path, Plugin& plugin) {
    // RTLD_LOCAL: the plug-in's symbols stay its own. RTLD_NOW: a missing symbol fails here, not
    // in the middle of a flight.
    plugin.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!plugin.library) {
        std::fprintf(stderr, "minimal-host: cannot load %s: %s\n", path, dlerror());
        return false;
    }
    plugin.setIRTS = reinterpret_cast<SetIRTSFunction>(dlsym(plugin.library, kSetIRTSSymbol));
    plugin.getObjectFactories =
        reinterpret_cast<GetObjectFactoriesFunction>(dlsym(plugin.library, kGetObjectFactoriesSymbol));
    if (!plugin.setIRTS || !plugin.getObjectFactories) {
        std::fprintf(stderr, "minimal-host: %s lacks SetIRTS or GetObjectFactories\n", path);
        return false;
    }
    return true;
}

/// The factory of class `className`, or null. The list ends with a null entry; each factory
/// holds its class name for the host in `pszClassName`.
RtsObjectFactory* findFactory(RtsObjectFactory** factories, const char* className) {
    for (RtsObjectFactory** factory = factories; *factory; ++factory) {
        if (std::strcmp((*factory)->pszClassName, className) == 0) return *factory;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Attributes: the engine sets the plug-in's values only through the objects' attribute tables.
// GetAttributeInfo with includeParents walks the class's own records, then RtsObject's
// "ObjectPos"; each record's Get and Set copy the value through an untyped buffer.

bool findAttribute(RtsObject* object, const char* name, Attribute& record) {
    ISCO_RtsObject* primary = object;
    for (ULong index = 0; index < 64; ++index) {
        if (!primary->GetAttributeInfo(index, &record, nullptr, true)) return false;
        if (std::strncmp(record.Name, name, sizeof record.Name) == 0) return true;
    }
    return false;
}

/// Writes `size` bytes to the attribute `name`, refusing a name or a size the table does not
/// give.
void setAttribute(RtsObject* object, const char* name, const void* value, std::size_t size) {
    Attribute record{};
    if (!findAttribute(object, name, record) || !record.Set ||
        static_cast<std::size_t>(minimal::attributeSize(record.Type)) * record.Count != size) {
        std::fprintf(stderr, "minimal-host: no attribute %s of %zu bytes\n", name, size);
        return;
    }
    unsigned char buffer[64];  // setters take a writable buffer; the largest value is 48 bytes
    std::memcpy(buffer, value, size);
    record.Set(object, buffer);
}

void setULong(RtsObject* object, const char* name, ULong value) { setAttribute(object, name, &value, sizeof value); }

void setFloat(RtsObject* object, const char* name, float value) { setAttribute(object, name, &value, sizeof value); }

void setBool(RtsObject* object, const char* name, bool value) {
    const unsigned char byte = value ? 1 : 0;
    setAttribute(object, name, &byte, 1);
}

/// A reference attribute holds the 16 bytes of the named object's GUID.
void setReference(RtsObject* object, const char* name, const Handle& target) {
    setAttribute(object, name, &target.Guid, sizeof target.Guid);
}

/// "ObjectPos" holds the origin first, then the nine matrix floats row by row; the orientation
/// is left as the identity.
void setPosition(RtsObject* object, float x, float y, float z) {
    const float value[12] = {x, y, z, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    setAttribute(object, "ObjectPos", value, sizeof value);
}

ULong getULong(RtsObject* object, const char* name) {
    Attribute record{};
    ULong value = 0;
    if (findAttribute(object, name, record) && record.Get && record.Type == kTypeULong) record.Get(object, &value);
    return value;
}

// ---------------------------------------------------------------------------------------------
// Output, in the number format of `camsys fly`: integers in decimal, floats as the shortest
// decimal text that reads back to the same float.

void appendFloat(std::string& line, float value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    line += ',';
    line.append(text, error == std::errc() ? end : text);
}

void printTick(ULong time, ULong waypoint, const _CCoordSystem<float>& eye, float fov) {
    std::string line = std::to_string(time) + ',' + std::to_string(waypoint);
    for (const float value : {eye.Origin.x, eye.Origin.y, eye.Origin.z}) appendFloat(line, value);
    for (const auto& row : eye.Orientation.m)
        for (const float value : row) appendFloat(line, value);
    appendFloat(line, fov);
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

// ---------------------------------------------------------------------------------------------

/// Builds the scene of scene.json, flies "Cam" and prints every tick. False when the plug-in
/// lacks one of the three classes.
bool flyScene(Runtime& runtime, RtsObjectFactory** factories) {
    RtsObjectFactory* pathClass = findFactory(factories, "SCOCameraSystemPath");
    RtsObjectFactory* waypointClass = findFactory(factories, "SCOCameraSystemWaypoint");
    RtsObjectFactory* iteratorClass = findFactory(factories, "SCOCameraSystemIterator");
    if (!pathClass || !waypointClass || !iteratorClass) {
        std::fprintf(stderr, "minimal-host: the plug-in lacks a camera-system class\n");
        return false;
    }

    // The scene, created first and set up afterwards as the engine's loader does: every object
    // exists before any reference to it is set. The waypoints are the path's children; their
    // order in its child list is the order of the flight.
    SceneMarker tower({30, 90, 5});
    const Handle towerHandle = runtime.addHostObject(tower, "Tower");
    RtsObject* path = runtime.create(*pathClass, "Path", Handle());
    if (!path) return false;
    const Handle pathHandle = runtime.handleOf(path);
    RtsObject* w0 = runtime.create(*waypointClass, "W0", pathHandle);
    RtsObject* w1 = runtime.create(*waypointClass, "W1", pathHandle);
    RtsObject* w2 = runtime.create(*waypointClass, "W2", pathHandle);
    RtsObject* w3 = runtime.create(*waypointClass, "W3", pathHandle);
    RtsObject* cam = runtime.create(*iteratorClass, "Cam", Handle());
    if (!w0 || !w1 || !w2 || !w3 || !cam) return false;

    setPosition(w0, 0, 0, 10);
    setReference(w0, "PointsTo", towerHandle);  // W0 looks at the tower
    setULong(w0, "PauseTime", 300);             // and the camera waits there before it sets off
    setPosition(w1, 40, 10, 12);
    setULong(w1, "Time2Next", 1500);  // a slower leg: 1500 instead of 1000 time units
    setPosition(w2, 70, 40, 15);
    setFloat(w2, "FOVFac", 1.5f);  // wider field of view around W2
    setBool(w2, "EaseIn", true);   // and the camera slows down into it
    setPosition(w3, 60, 80, 20);
    setReference(w3, "PointsTo", towerHandle);
    setReference(cam, "Path", pathHandle);

    // The loader's last step: AfterLoad, in order of creation. The path fits its curves here.
    for (RtsObject* object : {path, w0, w1, w2, w3, cam}) static_cast<ISCO_RtsObject*>(object)->AfterLoad();

    // The game camera, and the flight: activation at time 0 (the iterator takes the camera and
    // has its path refit), then one tick every 16 time units. After each tick the host delivers
    // what the tick asked for and the camera reads the eye. The flight ends with the tick after
    // which the iterator was deactivated: at the end of the path it asks for that itself and
    // hands the camera back, so that last row repeats the eye before it.
    GameCamera camera;
    runtime.setCamera(camera);
    const Handle camHandle = runtime.handleOf(cam);
    ISCO_RtsObject* iterator = cam;
    constexpr ULong kStart = 0;
    constexpr ULong kStep = 16;
    constexpr int kMaxTicks = 100000;  // a safety net; this flight needs 239

    std::puts("time,waypoint,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,fov");
    runtime.setNow(kStart);
    runtime.activate(camHandle);
    runtime.deliverRequests();
    ULong time = kStart;
    for (int tick = 0; tick < kMaxTicks; ++tick, time += kStep) {
        runtime.setNow(time);
        iterator->Run(time);
        runtime.deliverRequests();
        camera.readEye(runtime);
        printTick(time, getULong(cam, "ActualWayPointIndex"), camera.eye(), camera.fov());
        if (!runtime.isActive(camHandle)) return true;
    }
    std::fprintf(stderr, "minimal-host: Cam still flies after %d ticks\n", kMaxTicks);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: minimal-host [PLUGIN]   (default: %s)\n", CAMERASYSTEM_PLUGIN_PATH);
        return 2;
    }
    const char* pluginPath = argc == 2 ? argv[1] : CAMERASYSTEM_PLUGIN_PATH;
    Plugin plugin;
    if (!loadPlugin(pluginPath, plugin)) return 1;

    // The runtime goes to the plug-in before any object exists, and outlives every object: the
    // objects are destroyed (by the runtime's destructor) before the plug-in is unloaded.
    bool flown = false;
    {
        Runtime runtime;
        plugin.setIRTS(&runtime);
        flown = flyScene(runtime, plugin.getObjectFactories());
    }
    dlclose(plugin.library);
    return flown && std::fflush(stdout) == 0 ? 0 : 1;
}
