// Persisted records of the value types, the object base and the factories, byte for byte, and
// their behaviour on short or failing streams.
#include <gtest/gtest.h>

#include <cmath>

#include "framework/COrientation.h"
#include "framework/CVar.h"
#include "framework/RtsObject.h"
#include "host/Host.h"
#include "host/InProcessModule.h"
#include "host/Streams.h"
#include "module/CameraSystemFactories.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

/// Little-endian bytes of a 32-bit word, built independently of the stream under test.
void put32(Bytes& b, std::uint32_t w) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
}
void putFloat(Bytes& b, float f) {
    std::uint32_t w;
    std::memcpy(&w, &f, 4);
    put32(b, w);
}
void putGuid(Bytes& b, const _GUID& g) {
    put32(b, 1);  // format marker
    put32(b, g.Data1);
    b.push_back(static_cast<std::uint8_t>(g.Data2));
    b.push_back(static_cast<std::uint8_t>(g.Data2 >> 8));
    b.push_back(static_cast<std::uint8_t>(g.Data3));
    b.push_back(static_cast<std::uint8_t>(g.Data3 >> 8));
    b.insert(b.end(), g.Data4, g.Data4 + 8);
}

Bytes save(ISerialize& record) {
    host::MemoryStream out;
    EXPECT_EQ(record.Serialize(&out), 1);
    return out.bytes();
}

int load(ISerialize& record, const Bytes& bytes) {
    host::MemoryStream in(bytes);
    return record.Serialize(&in);
}

const _GUID kSample{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};

class Records : public ::testing::Test {
protected:
    host::Host host{&SetIRTS, &GetObjectFactories};
};

}  // namespace

TEST_F(Records, ValueTypeRecords) {
    CSCOVersion version(7);
    EXPECT_EQ(save(version), (Bytes{7, 0, 0, 0}));

    CVar<float> f{1.0f};
    EXPECT_EQ(save(f), (Bytes{0, 0, 0x80, 0x3F}));
    CVar<std::uint32_t> u;
    EXPECT_EQ(load(u, {0xEF, 0xBE, 0xAD, 0xDE}), 1);
    EXPECT_EQ(u.Value, 0xDEADBEEFu);
    EXPECT_EQ(load(u, {1, 2, 3}), 0);
    EXPECT_EQ(u.Value, 0xDEADBEEFu) << "a short record leaves the value";

    CGUID guid(kSample);
    Bytes expected;
    putGuid(expected, kSample);
    EXPECT_EQ(save(guid), expected);
    CGUID loaded;
    EXPECT_EQ(load(loaded, expected), 1);
    EXPECT_TRUE(loaded == guid);
    Bytes badMarker = expected;
    badMarker[0] = 2;
    CGUID untouched;
    EXPECT_EQ(load(untouched, badMarker), 0);
    EXPECT_TRUE(untouched.IsNull()) << "a wrong marker reads nothing";

    // CPosition: version 1, then x, y, z; a stored version other than 1 still loads.
    CPosition position(_Point3<float>{1.5f, -2.0f, 3.25f});
    Bytes pos{1, 0, 0, 0};
    putFloat(pos, 1.5f);
    putFloat(pos, -2.0f);
    putFloat(pos, 3.25f);
    EXPECT_EQ(save(position), pos);
    pos[0] = 9;
    CPosition back;
    EXPECT_EQ(load(back, pos), 1);
    EXPECT_EQ(back.y, -2.0f);

    // CObjectPos: version 1, the nine matrix floats row by row, then the origin.
    CObjectPos frame;
    for (int i = 0; i < 9; ++i) frame.Orientation.m[i / 3][i % 3] = float(i + 1);
    frame.Origin = {10, 11, 12};
    Bytes framed{1, 0, 0, 0};
    for (int i = 1; i <= 12; ++i) putFloat(framed, float(i));
    EXPECT_EQ(save(frame), framed);
}

TEST_F(Records, HandlesNameObjectsOnlyWhenNotNull) {
    EXPECT_TRUE(Handle().IsNull());
    EXPECT_TRUE(Handle(0).IsNull());
    _GUID lastByte{};
    lastByte.Data4[7] = 1;
    EXPECT_FALSE(Handle(lastByte).IsNull());

    const auto queriesBefore = host.runtime().counters().queries;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_FALSE(Handle().GetInterface(kIdRtsObject, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(host.runtime().counters().queries, queriesBefore) << "a null handle never reaches the runtime";
}

TEST_F(Records, BaseRecordVersionTwoEndsWithMarkAndVersionOneHasNone) {
    PlainRtsObject object{CGUID{kSample}, CGUID{kSample}, host.descriptor(host.createPlain("anchor"))};
    object.ObjectPos.Origin = {1, 2, 3};
    object.Container = Handle(kSample);
    object.Mark.Value = 1;

    Bytes expected{2, 0, 0, 0};
    putGuid(expected, kSample);  // SecondGuid
    expected.insert(expected.end(), {1, 0, 0, 0});
    for (float v : {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 1.f, 2.f, 3.f}) putFloat(expected, v);
    putGuid(expected, kSample);  // Container
    put32(expected, 1);          // Mark
    const Bytes record = save(object);
    ASSERT_EQ(record, expected);

    // A version-1 record: the same without Mark; Mark keeps its value.
    Bytes versionOne(record.begin(), record.end() - 4);
    versionOne[0] = 1;
    PlainRtsObject reader(CGUID{}, CGUID{}, object.Descriptor);
    reader.Mark.Value = 0;
    EXPECT_EQ(load(reader, versionOne), 1);
    EXPECT_EQ(reader.Mark.Value, 0);
    EXPECT_EQ(reader.ObjectPos.Origin.z, 3.0f);
    EXPECT_TRUE(reader.Container == object.Container);

    // Every truncation fails at its step; a stream failing after N bytes likewise.
    for (std::size_t n = 0; n < record.size(); ++n) {
        PlainRtsObject partial(CGUID{}, CGUID{}, object.Descriptor);
        EXPECT_EQ(load(partial, Bytes(record.begin(), record.begin() + long(n))), 0) << n << " bytes";
        host::MemoryStream failing;
        failing.failAfter(n);
        EXPECT_EQ(object.Serialize(&failing), 0) << "saving, failing after " << n;
    }
}

TEST_F(Records, FactoryRecordsAndVersionChecks) {
    const auto& f = host.factories();
    ASSERT_EQ(f.size(), 3u);
    RtsObjectFactory* path = f[0].factory;
    RtsObjectFactory* waypoint = f[2].factory;
    EXPECT_EQ(save(*path), (Bytes{3, 0, 0, 0})) << "a factory record is the 4-byte version";
    EXPECT_EQ(save(*waypoint), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(load(*path, {3, 0, 0, 0}), 1);
    EXPECT_EQ(load(*path, {2, 0, 0, 0}), 0);
    EXPECT_EQ(load(*path, {4, 0, 0, 0}), 0);
    EXPECT_EQ(load(*path, {3, 0}), 0);
    EXPECT_EQ(load(*waypoint, {1, 0, 0, 0}), 1);
    EXPECT_EQ(load(*waypoint, {3, 0, 0, 0}), 0);
    for (const auto& info : f) {
        EXPECT_STREQ(info.factory->GetSCOGroup(0), "Camera");
        EXPECT_EQ(info.factory->GetSCOGroup(1), nullptr);
    }

    // The base factory: version 2, then AngleStep and SecondStep; the stored version is not compared.
    RtsObjectFactory base;
    EXPECT_STREQ(base.pszClassName, "RtsObject");
    EXPECT_STREQ(base.GetSCOGroup(0), "*");
    Bytes expected{2, 0, 0, 0};
    putFloat(expected, static_cast<float>(3.141592653589793 / 32));
    putFloat(expected, 16.0f);
    EXPECT_EQ(save(base), expected);
    expected[0] = 5;
    EXPECT_EQ(load(base, expected), 1);
    EXPECT_EQ(load(base, Bytes(expected.begin(), expected.end() - 1)), 0);
}
