#pragma once
/// The plug-in's two entry points, found in a shared library or linked into the process.

#include <string>

#include "framework/RtsObjectFactory.h"

namespace host {

/// [host imp] A loaded plug-in: its library handle and its `SetIRTS` / `GetObjectFactories`.
/// The library is closed on destruction, so every object it made must be gone by then.
class Plugin {
public:
    /// Opens the library at `path` (now, locally) and looks up both entry points. Throws
    /// std::runtime_error with the loader's text when either step fails.
    explicit Plugin(const std::string& path);
    /// Entry points linked into the process; nothing is opened or closed.
    Plugin(SetIRTSFunction setIRTS, GetObjectFactoriesFunction getObjectFactories);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    SetIRTSFunction setIRTS() const { return setIRTS_; }
    GetObjectFactoriesFunction getObjectFactories() const { return getObjectFactories_; }
    /// The library's path; empty for entry points linked into the process.
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* library_ = nullptr;
    SetIRTSFunction setIRTS_ = nullptr;
    GetObjectFactoriesFunction getObjectFactories_ = nullptr;
};

/// The plug-in a program loads when it is told none: the one installed beside the program
/// (`../lib/camerasystem/libcamerasystem.so` from its folder) when there is one, else the one
/// built with it, at `builtFromProgram` relative to the program's folder in the build tree. No
/// absolute path of the build is compiled into a program, so an installed one never falls back
/// to a build tree.
std::string defaultPluginPath(const std::string& builtFromProgram);

}  // namespace host
