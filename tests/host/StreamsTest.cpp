#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/CVar.h"
#include "framework/Guid.h"
#include "host/Streams.h"

using host::FileStream;
using host::MemoryStream;
using Bytes = std::vector<std::uint8_t>;

TEST(MemoryStream, TypedFormsAreFixedLittleEndianBytes) {
    MemoryStream out;
    out.StoreULong(0x11223344u).StoreLong(-2).StoreFloat(1.5f).StoreBool(true).StoreBool(false);
    CVar<float> member{-0.0f};
    out.StoreObject(member);  // the member's own record: its 4 raw bytes
    const Bytes expected = {0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF, 0x00,
                            0x00, 0xC0, 0x3F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(out.bytes(), expected);
    EXPECT_FALSE(out.failed());

    MemoryStream in(expected);
    ULong u = 0;
    Long l = 0;
    float f = 0;
    bool t = false, b = true;
    CVar<float> back{7.0f};
    in.LoadULong(&u).LoadLong(&l).LoadFloat(&f).LoadBool(&t).LoadBool(&b).LoadObject(back);
    EXPECT_EQ(u, 0x11223344u);
    EXPECT_EQ(l, -2);
    EXPECT_EQ(f, 1.5f);
    EXPECT_TRUE(t);
    EXPECT_FALSE(b);
    EXPECT_TRUE(std::signbit(back.Value));
    EXPECT_EQ(in.remaining(), 0u);

    // Any non-zero byte loads as true.
    MemoryStream two(Bytes{0x02});
    bool nonZero = false;
    two.LoadBool(&nonZero);
    EXPECT_TRUE(nonZero);

    // A saved CGUID is the long 1, then the 16 GUID bytes as they lie in memory.
    CGUID guid(_GUID{0x4EFF3285, 0x62E4, 0x11D4, {0xA5, 0xBD, 0x00, 0x90, 0x27, 0xA2, 0x83, 0x63}});
    MemoryStream saved;
    ASSERT_EQ(guid.Serialize(&saved), 1);
    const Bytes guidRecord = {0x01, 0x00, 0x00, 0x00, 0x85, 0x32, 0xFF, 0x4E, 0xE4, 0x62,
                              0xD4, 0x11, 0xA5, 0xBD, 0x00, 0x90, 0x27, 0xA2, 0x83, 0x63};
    EXPECT_EQ(saved.bytes(), guidRecord);
    MemoryStream loading(guidRecord);
    CGUID loaded;
    ASSERT_EQ(loaded.Serialize(&loading), 1);
    EXPECT_TRUE(loaded == guid);
}

TEST(MemoryStream, ShortReadsFailAndMoveNothing) {
    MemoryStream in(Bytes{0xAA, 0xBB, 0xCC});
    ULong value = 7;
    in.LoadULong(&value);
    EXPECT_EQ(value, 7u);  // three bytes cannot make a ULong: unchanged
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(in.position(), 0u);

    std::uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_LT(in.Read(buffer, 4), 0);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(in.Read(buffer, 3), 3);
    EXPECT_EQ(buffer[2], 0xCC);
    EXPECT_EQ(buffer[3], 4);  // never written past the three bytes there were
    EXPECT_LT(in.Read(buffer, 1), 0);
    EXPECT_EQ(in.Read(buffer, 0), 0);
    EXPECT_LT(in.Read(buffer, 0xFFFFFFFFu), 0);  // more than an int can count

    // Each stream runs one way only.
    EXPECT_LT(in.Write(buffer, 1), 0);
    MemoryStream out;
    EXPECT_LT(out.Read(buffer, 1), 0);
    EXPECT_EQ(out.IsLoading(), 0);
    EXPECT_NE(in.IsLoading(), 0);

    // A CGUID record cut inside its 16 bytes fails and leaves the GUID as it was.
    CGUID guid(_GUID{9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}});
    MemoryStream cut(Bytes{1, 0, 0, 0, 0xEE, 0xEE});
    EXPECT_EQ(guid.Serialize(&cut), 0);
    EXPECT_EQ(guid.Guid.Data1, 9u);
}

TEST(MemoryStream, FailAfterLimitsEveryLaterByte) {
    MemoryStream out;
    out.failAfter(6);
    out.StoreULong(1);
    EXPECT_FALSE(out.failed());
    out.StoreULong(2);  // would end at byte 8
    EXPECT_TRUE(out.failed());
    EXPECT_EQ(out.bytes().size(), 4u);
    const std::uint8_t two[2] = {5, 6};
    EXPECT_EQ(out.Write(two, 2), 2);  // exactly up to the limit
    EXPECT_LT(out.Write(two, 1), 0);
    EXPECT_EQ(out.bytesMoved(), 6u);

    MemoryStream in(Bytes{1, 0, 0, 0, 2, 0, 0, 0});
    in.failAfter(4);
    ULong a = 0, b = 0;
    in.LoadULong(&a).LoadULong(&b);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(in.position(), 4u);
}

TEST(FileStream, SavesLoadsAndFailsLikeMemory) {
    const std::string path = testing::TempDir() + "camsys_filestream.bin";
    {
        FileStream out(path, FileStream::Mode::Save);
        ASSERT_TRUE(out.isOpen());
        out.StoreULong(0xCAFEF00Du).StoreBool(true);
        EXPECT_TRUE(out.close());
    }
    std::FILE* raw = std::fopen(path.c_str(), "rb");
    ASSERT_NE(raw, nullptr);
    std::uint8_t bytes[8] = {};
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, raw), 5u);
    std::fclose(raw);
    EXPECT_EQ(Bytes(bytes, bytes + 5), (Bytes{0x0D, 0xF0, 0xFE, 0xCA, 0x01}));

    FileStream in(path, FileStream::Mode::Load);
    ULong value = 0;
    in.LoadULong(&value);
    EXPECT_EQ(value, 0xCAFEF00Du);
    ULong tooFar = 3;
    in.LoadULong(&tooFar);  // one byte left
    EXPECT_EQ(tooFar, 3u);
    bool flag = false;
    in.LoadBool(&flag);  // the short read above gave its byte back
    EXPECT_TRUE(flag);
    EXPECT_TRUE(in.failed());

    FileStream missing(testing::TempDir() + "no/such/dir/file.bin", FileStream::Mode::Load);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_LT(missing.Read(bytes, 1), 0);
    std::remove(path.c_str());
}
