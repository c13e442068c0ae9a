#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "host/Host.h"

TEST(PluginLibrary, ListsPathIteratorWaypointThenNull) {
    host::Plugin plugin(CAMSYS_PLUGIN_PATH);
    RtsObjectFactory** table = plugin.getObjectFactories()();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[3], nullptr);

    host::Host host(CAMSYS_PLUGIN_PATH);
    const auto& factories = host.factories();
    ASSERT_EQ(factories.size(), 3u);
    struct Expected {
        const char* name;
        const char* guid;
        int version;
    };
    const Expected expected[] = {
        {"SCOCameraSystemPath", "{4EFF3284-62E4-11D4-A5BD-009027A28363}", 3},
        {"SCOCameraSystemIterator", "{770FDB9A-6938-11D4-A5BD-009027A28363}", 3},
        {"SCOCameraSystemWaypoint", "{4EFF3285-62E4-11D4-A5BD-009027A28363}", 1},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(factories[i].factory, table[i]);
        EXPECT_EQ(factories[i].className, expected[i].name);
        EXPECT_EQ(host::formatGuid(factories[i].classGuid), expected[i].guid);
        EXPECT_EQ(factories[i].version, expected[i].version);
        EXPECT_EQ(factories[i].groups, std::vector<std::string>{"Camera"});
    }
}

TEST(PluginLibrary, ExportsExactlyTheTwoEntryPoints) {
    const std::string command = std::string("nm -D --defined-only '") + CAMSYS_PLUGIN_PATH + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
    ASSERT_EQ(pclose(pipe), 0) << output;

    // Lines read "address type name"; keep name -> type.
    std::map<std::string, std::string> symbols;
    std::istringstream lines(output);
    std::string address, type, name;
    while (lines >> address >> type >> name) symbols[name] = type;
    const std::map<std::string, std::string> expected = {{"GetObjectFactories", "T"}, {"SetIRTS", "T"}};
    EXPECT_EQ(symbols, expected) << output;
}
