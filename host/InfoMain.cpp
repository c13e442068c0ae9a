// camsys-info: loads the camera-system plug-in and prints what each of its factories makes.
//
//   camsys-info [plugin-path]
//
// One line per factory: class name, class GUID, version and SCO groups.
#include <cstdio>
#include <exception>
#include <string>

#include "host/Host.h"

#ifndef CAMSYS_PLUGIN_PATH
#define CAMSYS_PLUGIN_PATH "libcamerasystem.so"
#endif

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [plugin-path]\n", argv[0]);
        return 2;
    }
    const std::string path = argc == 2 ? argv[1] : CAMSYS_PLUGIN_PATH;
    try {
        host::Host host(path);
        for (const host::FactoryInfo& factory : host.factories()) {
            std::string groups;
            for (const std::string& group : factory.groups) groups += (groups.empty() ? "" : ",") + group;
            std::printf("%s %s version %d groups %s\n", factory.className.c_str(),
                        host::formatGuid(factory.classGuid).c_str(), factory.version, groups.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "camsys-info: %s\n", error.what());
        return 1;
    }
    return 0;
}
