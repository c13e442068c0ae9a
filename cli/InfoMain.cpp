// camsys-info: loads the camera-system plug-in and prints what each of its factories makes.
//
//   camsys-info [plugin-path]
//
// A first line with the project's version and the plug-in's path, then one line per factory:
// class name, class GUID, version and SCO groups.
#include <cstdio>
#include <exception>
#include <string>

#include "base/GuidText.h"
#include "host/Host.h"

#ifndef CAMSYS_VERSION
#define CAMSYS_VERSION "unknown"
#endif
#ifndef CAMSYS_PLUGIN_BUILT
#define CAMSYS_PLUGIN_BUILT "../module/libcamerasystem.so"
#endif

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [plugin-path]\n", argv[0]);
        return 2;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("camsys-info %s\n", CAMSYS_VERSION);
        return 0;
    }
    const std::string path = argc == 2 ? argv[1] : host::defaultPluginPath(CAMSYS_PLUGIN_BUILT);
    try {
        host::Host host(path);
        std::printf("camerasystem %s, plug-in %s\n", CAMSYS_VERSION, path.c_str());
        for (const host::FactoryInfo& factory : host.factories()) {
            std::string groups;
            for (const std::string& group : factory.groups) groups += (groups.empty() ? "" : ",") + group;
            std::printf("%s %s version %d groups %s\n", factory.className.c_str(),
                        host::guidToText(factory.classGuid).c_str(), factory.version, groups.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "camsys-info: %s\n", error.what());
        return 1;
    }
    return 0;
}
