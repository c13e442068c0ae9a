// The heap's tuning for programs that edit paths.
#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Heap.h"

#if defined(__GLIBC__)
#include <malloc.h>

TEST(Heap, KeptHeapServesLargeBlocksFromTheHeapNotFromMappingsOfTheirOwn) {
    // A drawing or an answer of a few megabytes must come from the kept heap: with glibc's
    // defaults a block of 1 MiB gets a mapping of its own, faulted in afresh every time.
    host::keepFreedHeap();
    const std::size_t mappedBefore = mallinfo2().hblks;
    void* block = std::malloc(std::size_t{4} << 20);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(mallinfo2().hblks, mappedBefore);
    std::free(block);
}
#endif
