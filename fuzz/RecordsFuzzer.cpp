// libFuzzer entry: arbitrary bytes as records of the scene's objects (see FuzzBodies.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzzRecords({data, size});
    return 0;
}
