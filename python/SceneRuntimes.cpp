#include "python/SceneRuntimes.h"

#include <dlfcn.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "framework/ModuleRuntime.h"

#ifndef CAMSYS_PLUGIN_FROM_MODULE
#define CAMSYS_PLUGIN_FROM_MODULE "../../../camerasystem/libcamerasystem.so"
#endif
#ifndef CAMSYS_PLUGIN_BUILT_FROM_MODULE
#define CAMSYS_PLUGIN_BUILT_FROM_MODULE "../../module/libcamerasystem.so"
#endif

namespace pycamsys {

namespace {

// Initial-exec: a plain load through the thread pointer on every runtime call, instead of a call
// into the loader's lookup of a dlopen'd library's variables (one pointer fits in the room glibc
// keeps for such libraries).
thread_local host::Runtime* threadCurrent __attribute__((tls_model("initial-exec"))) = nullptr;

/// The runtime of the scene the calling thread works on. A call with none is a fault of this
/// module (some entry forgot its ThreadScope): stop before it lands in another scene.
host::Runtime& current() {
    if (!threadCurrent) {
        std::fputs("camsys module: a runtime call outside any scene\n", stderr);
        std::abort();
    }
    return *threadCurrent;
}

/// The runtime this module's own framework code keeps: each call goes to the calling thread's
/// scene (directly: the host's runtime class is final).
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

/// The copies of the plug-in no scene uses now, for the next scenes. Guarded by the exclusive lock.
std::vector<std::unique_ptr<host::Plugin>>& idleCopies() {
    static auto* copies = new std::vector<std::unique_ptr<host::Plugin>>();  // never closed
    return *copies;
}

/// A copy of the plug-in of its own: its file copied to a temporary one, loaded and unlinked. A
/// file of another inode is another load, with its own globals (the runtime pointer among them),
/// sharing the C and C++ libraries and the render library with the rest of the process.
std::unique_ptr<host::Plugin> loadPluginCopy() {
    const std::string source = pluginPath();
    std::ifstream in(source, std::ios::binary);
    if (!in) throw std::runtime_error("cannot load plug-in: " + source + ": " + std::strerror(errno));
    std::string folder = std::filesystem::temp_directory_path().string();
    std::string name = folder + "/camsys-plugin-XXXXXX";
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) throw std::runtime_error("cannot copy the plug-in into " + folder + ": " + std::strerror(errno));
    struct Unlink {
        const std::string& name;
        int descriptor;
        ~Unlink() {
            close(descriptor);
            unlink(name.c_str());
        }
    } unlinkAtEnd{name, descriptor};
    std::ofstream out(name, std::ios::binary);
    out << in.rdbuf();
    out.close();
    if (!out) throw std::runtime_error("cannot copy the plug-in into " + name);
    return std::make_unique<host::Plugin>(name);
}

}  // namespace

ThreadScope::ThreadScope(host::Runtime* runtime) : previous_(threadCurrent) { threadCurrent = runtime; }

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
    if (idleCopies().empty()) {
        plugin_ = loadPluginCopy();
    } else {
        plugin_ = std::move(idleCopies().back());
        idleCopies().pop_back();
    }
    try {
        host_ = std::make_unique<host::Host>(plugin_->setIRTS(), plugin_->getObjectFactories());
    } catch (...) {
        idleCopies().push_back(std::move(plugin_));
        throw;
    }
}

SceneHost::~SceneHost() {
    std::unique_lock<std::shared_mutex> alone(startsAndEnds());
    ThreadScope scope(&host_->runtime());
    host_.reset();
    SetModuleRuntime(&threadRuntime());
    idleCopies().push_back(std::move(plugin_));
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
