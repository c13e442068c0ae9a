// libFuzzer entry: arbitrary bytes as a level file, .gltf or .glb (see FuzzBodies.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzBodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::fuzzLevel({data, size});
    return 0;
}
