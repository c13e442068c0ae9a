// The built plug-in, loaded through dlopen: its factory list and its exported symbols.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "base/GuidText.h"
#include "host/Host.h"

TEST(PluginLibrary, ListsPathIteratorWaypointThenNull) {
    host::Plugin plugin(CAMSYS_PLUGIN_PATH);
    RtsObjectFactory** table = plugin.getObjectFactories()();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[3], nullptr);

    host::Host host(CAMSYS_PLUGIN_PATH);
    ASSERT_EQ(host.factories().size(), 3u);
    const std::tuple<const char*, const char*, int> expected[] = {
        {"SCOCameraSystemPath", "{4EFF3284-62E4-11D4-A5BD-009027A28363}", 3},
        {"SCOCameraSystemIterator", "{770FDB9A-6938-11D4-A5BD-009027A28363}", 3},
        {"SCOCameraSystemWaypoint", "{4EFF3285-62E4-11D4-A5BD-009027A28363}", 1}};
    for (int i = 0; i < 3; ++i) {
        const auto& [name, guid, version] = expected[i];
        const host::FactoryInfo& info = host.factories()[i];
        EXPECT_EQ(info.factory, table[i]);
        EXPECT_EQ(info.className, name);
        EXPECT_EQ(host::guidToText(info.classGuid), guid);
        EXPECT_EQ(info.version, version);
        EXPECT_EQ(info.groups, std::vector<std::string>{"Camera"}) << name;
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
    for (std::string address, type, name; lines >> address >> type >> name;) symbols[name] = type;
    EXPECT_EQ(symbols, (std::map<std::string, std::string>{{"GetObjectFactories", "T"}, {"SetIRTS", "T"}})) << output;
}
