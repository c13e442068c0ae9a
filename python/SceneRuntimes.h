#pragma once
// Several scenes in one process, each in its own Host, flown from any thread.
//
// The plug-in keeps one runtime pointer per loaded copy (SetIRTS), so each scene gets a copy of
// its own: the plug-in's file copied to a temporary file and loaded from there (another inode
// is another load with its own globals). A copy whose scene has ended goes to the next scene, so
// a process loads as many copies as it ever held scenes at once.
//
// This module's own framework code (the host's objects, Handle) keeps one runtime pointer for
// the process (SetModuleRuntime). It is pointed at a runtime that hands every call on to the
// runtime of the scene the calling thread works on. A Host points it at its own runtime while
// it starts and ends; those moments take the lock exclusively and put it back before anyone
// else runs.

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "host/Host.h"

namespace pycamsys {

/// Makes the calling thread's runtime calls go to `runtime` while it lives (nests).
class ThreadScope {
public:
    explicit ThreadScope(host::Runtime* runtime);
    ~ThreadScope();
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

private:
    host::Runtime* previous_;
};

/// A Host with a copy of the plug-in of its own, started and ended under the exclusive lock.
class SceneHost {
public:
    SceneHost();
    ~SceneHost();
    SceneHost(const SceneHost&) = delete;
    SceneHost& operator=(const SceneHost&) = delete;

    host::Host& host() { return *host_; }
    const host::Host& host() const { return *host_; }

    /// Runs `work` with this host's runtime as the thread's, beside other scenes' work, and never
    /// while a host starts or ends. One piece of work at a time per host.
    template <typename Work>
    auto run(Work&& work) {
        std::shared_lock<std::shared_mutex> shared(startsAndEnds());
        std::lock_guard<std::mutex> mine(busy_);
        ThreadScope scope(&host_->runtime());
        return work(*host_);
    }

    /// The lock hosts take exclusively to start and end.
    static std::shared_mutex& startsAndEnds();

private:
    std::mutex busy_;
    std::unique_ptr<host::Plugin> plugin_;  ///< this scene's own copy
    std::unique_ptr<host::Host> host_;
};

/// The plug-in every scene uses: $CAMSYS_PLUGIN, else the one installed beside this module, else
/// the one built beside it in the build tree.
std::string pluginPath();

}  // namespace pycamsys
