// libFuzzer entry: arbitrary bytes as a scene file, JSON or .sco (see FuzzBodies.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzzScene({data, size});
    return 0;
}
