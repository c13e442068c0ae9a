#include "python/SceneRuntimes.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "framework/ModuleRuntime.h"

#ifndef CAMSYS_PLUGIN_FROM_MODULE
#define CAMSYS_PLUGIN_FROM_MODULE "../../../camerasystem/libcamerasystem.so"
#endif
#ifndef CAMSYS_PLUGIN_BUILT_FROM_MODULE
#define CAMSYS_PLUGIN_BUILT_FROM_MODULE "../../module/libcamerasystem.so"
#endif

namespace pycamsys {

namespace {

thread_local IRTS* threadCurrent = nullptr;

/// The runtime of the scene the calling thread works on. A call with none is a fault of this
/// module (some entry forgot its ThreadScope): stop before it lands in another scene.
IRTS& current() {
    if (!threadCurrent) {
        std::fputs("camsys module: a runtime call outside any scene\n", stderr);
        std::abort();
    }
    return *threadCurrent;
}

/// The runtime both pointers keep: each call goes to the calling thread's scene.
class ThreadRuntime final : public IRTS {
public:
    Handle GetParent(Handle object) override { return current().GetParent(object); }
    ULong LookupObject(const CGUID& object) override { return current().LookupObject(object); }
    bool QueryObjectInterface(Handle object, ULong id, void** out) override {
        return current().QueryObjectInterface(object, id, out);
    }
    void ReleaseObject(RtsObject* object) override { current().ReleaseObject(object); }
    void ActivateObject(Handle sender, Handle object, int flag1, int flag2) override {
        current().ActivateObject(sender, object, flag1, flag2);
    }
    void DeactivateObject(Handle sender, Handle object, int flag) override {
        current().DeactivateObject(sender, object, flag);
    }
    CGUID GetCamera() override { return current().GetCamera(); }
    // The host formats no further arguments (the plug-in sends none), so none are passed on.
    void Message(int level, const char* location, const char* text, ...) override {
        current().Message(level, location, text);
    }
    IEditor* GetEditor() override { return current().GetEditor(); }
    ITypeRegistry* GetTypeRegistry() override { return current().GetTypeRegistry(); }
};

ThreadRuntime& threadRuntime() {
    static ThreadRuntime runtime;
    return runtime;
}

/// What a Host hands the plug-in at its start and end: ignored, the plug-in keeps the thread
/// runtime it was given once.
void keepThreadRuntime(IRTS*) {}

/// The plug-in, loaded once for the process and never closed (objects of every scene use it).
host::Plugin& sharedPlugin() {
    static host::Plugin* plugin = [] {
        auto* loaded = new host::Plugin(pluginPath());
        loaded->setIRTS()(&threadRuntime());
        return loaded;
    }();
    return *plugin;
}

}  // namespace

ThreadScope::ThreadScope(IRTS* runtime) : previous_(threadCurrent) { threadCurrent = runtime; }

ThreadScope::~ThreadScope() { threadCurrent = previous_; }

std::shared_mutex& SceneHost::startsAndEnds() {
    static std::shared_mutex lock;
    return lock;
}

SceneHost::SceneHost() {
    std::unique_lock<std::shared_mutex> alone(startsAndEnds());
    struct Restore {
        ~Restore() { SetModuleRuntime(&threadRuntime()); }
    } restore;
    host::Plugin& plugin = sharedPlugin();
    host_ = std::make_unique<host::Host>(&keepThreadRuntime, plugin.getObjectFactories());
}

SceneHost::~SceneHost() {
    std::unique_lock<std::shared_mutex> alone(startsAndEnds());
    ThreadScope scope(&host_->runtime());
    host_.reset();
    SetModuleRuntime(&threadRuntime());
}

std::string pluginPath() {
    const char* fromEnvironment = std::getenv("CAMSYS_PLUGIN");
    if (fromEnvironment && *fromEnvironment) return fromEnvironment;
    Dl_info self{};
    if (!dladdr(reinterpret_cast<void*>(&pluginPath), &self) || !self.dli_fname) return "libcamerasystem.so";
    const std::filesystem::path folder = std::filesystem::absolute(self.dli_fname).parent_path();
    const std::filesystem::path installed = folder / CAMSYS_PLUGIN_FROM_MODULE;
    std::error_code error;
    for (const std::filesystem::path& candidate : {installed, folder / CAMSYS_PLUGIN_BUILT_FROM_MODULE})
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
    return installed.lexically_normal().string();
}

}  // namespace pycamsys
