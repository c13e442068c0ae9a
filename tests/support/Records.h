#pragma once
/// Saving and loading one record through the host's memory stream.

#include <gtest/gtest.h>

#include <cstddef>

#include "framework/ISerialize.h"
#include "host/ClassStorage.h"
#include "tests/support/Bytes.h"

namespace testing_support {

/// The bytes `record` saves; saving must succeed.
inline ByteVector saveRecord(ISerialize& record) {
    host::MemoryStream out;
    EXPECT_EQ(record.Serialize(&out), 1);
    return out.bytes();
}

/// `record.Serialize` reading `bytes`; `consumed`, when given, receives the bytes it read.
inline int loadRecord(ISerialize& record, const ByteVector& bytes, std::size_t* consumed = nullptr) {
    host::MemoryStream in(bytes);
    const int result = record.Serialize(&in);
    if (consumed) *consumed = in.position();
    return result;
}

}  // namespace testing_support
