// The host's streams: the fixed byte form of the typed calls, in memory and in files, short reads,
// and failing after a number of bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "framework/CVar.h"
#include "host/ClassStorage.h"

using host::FileStream;
using host::MemoryStream;
using Bytes = std::vector<std::uint8_t>;

TEST(Streams, TypedFormsAreFixedLittleEndianBytesInMemoryAndInFiles) {
    CVar<float> member{-0.0f};
    const auto store = [&](IClassStorage& out) {
        out.StoreULong(0x11223344u).StoreLong(-2).StoreFloat(1.5f).StoreBool(true).StoreBool(false).StoreObject(member);
    };
    const Bytes expected = {0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF, 0x00,
                            0x00, 0xC0, 0x3F, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80};
    MemoryStream out;
    store(out);
    EXPECT_EQ(out.bytes(), expected);
    const std::string path = testing::TempDir() + "camsys_filestream.bin";
    FileStream file(path, FileStream::Mode::Save);
    store(file);
    EXPECT_TRUE(file.close());
    std::ifstream raw(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(raw), {}), expected);
    std::remove(path.c_str());
    EXPECT_FALSE(FileStream(testing::TempDir() + "no/such/dir/file.bin", FileStream::Mode::Save).isOpen());

    MemoryStream in(expected);
    ULong u = 0;
    Long l = 0;
    float f = 0;
    bool t = false, b = true;
    CVar<float> back{7.0f};
    in.LoadULong(&u).LoadLong(&l).LoadFloat(&f).LoadBool(&t).LoadBool(&b).LoadObject(back);
    EXPECT_TRUE(u == 0x11223344u && l == -2 && f == 1.5f && t && !b);
    EXPECT_TRUE(std::signbit(back.Value));
    EXPECT_EQ(in.remaining(), 0u);
    MemoryStream(Bytes{0x02}).LoadBool(&b);
    EXPECT_TRUE(b) << "any non-zero byte loads as true";
}

TEST(MemoryStream, ShortReadsAndFailAfterMoveNothing) {
    MemoryStream in(Bytes{0xAA, 0xBB, 0xCC});
    ULong value = 7;
    in.LoadULong(&value);
    EXPECT_TRUE(value == 7u && in.failed() && in.position() == 0u) << "three bytes make no ULong";
    std::uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_LT(in.Read(buffer, 4), 0);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(in.Read(buffer, 3), 3);
    EXPECT_EQ(buffer[3], 4) << "never written past the three bytes there were";
    EXPECT_EQ(in.Read(buffer, 0), 0);
    EXPECT_LT(in.Read(buffer, 0xFFFFFFFFu), 0) << "more than an int can count";
    // Each stream runs one way only.
    EXPECT_LT(in.Write(buffer, 1), 0);
    MemoryStream out;
    EXPECT_LT(out.Read(buffer, 1), 0);
    EXPECT_TRUE(in.IsLoading() && !out.IsLoading());

    out.failAfter(6);
    out.StoreULong(1).StoreULong(2);  // the second would end at byte 8
    EXPECT_EQ(out.bytes().size(), 4u);
    EXPECT_EQ(out.Write(buffer, 2), 2) << "exactly up to the limit";
    EXPECT_LT(out.Write(buffer, 1), 0);
    EXPECT_EQ(out.bytesMoved(), 6u);
    MemoryStream limited(Bytes{1, 0, 0, 0, 2, 0, 0, 0});
    limited.failAfter(4);
    ULong a = 0, b = 0;
    limited.LoadULong(&a).LoadULong(&b);
    EXPECT_TRUE(a == 1u && b == 0u && limited.position() == 4u);
}
