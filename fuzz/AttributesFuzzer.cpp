// libFuzzer entry: arbitrary bytes as attribute edits of a small scene (see FuzzBodies.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzzAttributes({data, size});
    return 0;
}
