#include "host/Plugin.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#ifndef CAMSYS_PLUGIN_FROM_BIN
#define CAMSYS_PLUGIN_FROM_BIN "../lib/camerasystem/libcamerasystem.so"
#endif

namespace host {

namespace {

/// The loader's text for the last failure, or `fallback` when it has none.
std::string loaderError(const char* fallback) {
    const char* text = dlerror();
    return text ? text : fallback;
}

}  // namespace

Plugin::Plugin(const std::string& path) : path_(path) {
    dlerror();
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) throw std::runtime_error("cannot load plug-in: " + loaderError(path.c_str()));

    // Object pointers to function pointers: what dlsym is for on this platform.
    auto lookUp = [this](const char* symbol) {
        dlerror();
        void* address = dlsym(library_, symbol);
        if (!address) {
            const std::string reason = loaderError(symbol);
            dlclose(library_);
            library_ = nullptr;
            throw std::runtime_error("plug-in " + path_ + " has no " + symbol + ": " + reason);
        }
        return address;
    };
    setIRTS_ = reinterpret_cast<SetIRTSFunction>(lookUp(kSetIRTSSymbol));
    getObjectFactories_ = reinterpret_cast<GetObjectFactoriesFunction>(lookUp(kGetObjectFactoriesSymbol));
}

Plugin::Plugin(SetIRTSFunction setIRTS, GetObjectFactoriesFunction getObjectFactories)
    : setIRTS_(setIRTS), getObjectFactories_(getObjectFactories) {
    if (!setIRTS_ || !getObjectFactories_) throw std::invalid_argument("plug-in entry point missing");
}

Plugin::~Plugin() {
    if (library_) dlclose(library_);
}

std::string defaultPluginPath(const std::string& builtFromProgram) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "libcamerasystem.so";  // left to the loader's search path
    const std::filesystem::path folder = self.parent_path();
    const std::filesystem::path installed = folder / CAMSYS_PLUGIN_FROM_BIN;
    for (const std::filesystem::path& candidate : {installed, folder / builtFromProgram})
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
    // Neither: the loader's error then names where an installed one belongs.
    return installed.lexically_normal().string();
}

}  // namespace host
