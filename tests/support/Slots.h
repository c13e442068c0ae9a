#pragma once
/// Slot positions of virtual operations, as an independent host sees them.
///
/// With this compiler a pointer to a virtual member function holds 1 + the byte offset of its
/// entry in the table, so the entry index of a declared operation can be read back from it.
/// `tableEntry` reads the entry an object's table actually holds, so tests can call operations
/// by position the way a host built from the slot tables does.

#include <cstdint>
#include <cstring>

namespace testing_support {

/// Entry index of a virtual member function in the table of its class (or of the base named by
/// the pointer's type).
template <class Pmf>
long slotOf(Pmf pmf) {
    static_assert(sizeof(Pmf) == 2 * sizeof(void*), "expects the two-word member function pointer");
    std::uintptr_t word;
    std::memcpy(&word, &pmf, sizeof word);
    return (word & 1) ? static_cast<long>((word - 1) / sizeof(void*)) : -1;
}

/// The function an object's table holds at `entry`. `part` points at the part whose table is meant.
template <class Fn>
Fn tableEntry(const void* part, long entry) {
    void* const* table;
    std::memcpy(&table, part, sizeof table);
    Fn fn;
    void* raw = table[entry];
    std::memcpy(&fn, &raw, sizeof fn);
    return fn;
}

/// Entry index of table slot `slot` in a primary table whose virtual destructor sits at slot
/// `destructorSlot`: this compiler gives the destructor two entries.
constexpr long entryOf(long slot, long destructorSlot) { return slot > destructorSlot ? slot + 1 : slot; }

}  // namespace testing_support
