#pragma once
// Several scenes in one process, each in its own Host, flown from any thread.
//
// The plug-in and this module's own framework code each keep one runtime pointer for the whole
// process (SetIRTS, SetModuleRuntime). Both are pointed once at `threadRuntime()`, which hands
// every call on to the runtime of the scene the calling thread is working on. So one loaded copy
// of the plug-in serves every scene, and scenes in different threads run at the same time.
//
// A Host still points both at its own runtime while it starts and ends; those moments take the
// lock exclusively, and put the pointers back before anyone else runs.

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "host/Host.h"

namespace pycamsys {

/// Makes the calling thread's runtime calls go to `runtime` while it lives (nests).
class ThreadScope {
public:
    explicit ThreadScope(IRTS* runtime);
    ~ThreadScope();
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

private:
    IRTS* previous_;
};

/// A Host of the shared plug-in, started and ended under the exclusive lock.
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
    std::unique_ptr<host::Host> host_;
};

/// The plug-in every scene uses: $CAMSYS_PLUGIN, else the one installed beside this module, else
/// the one built beside it in the build tree.
std::string pluginPath();

}  // namespace pycamsys
