// libFuzzer entry: arbitrary edit requests to the studio (see FuzzBodies.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzzStudio({data, size});
    return 0;
}
