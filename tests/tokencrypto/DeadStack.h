// The stack below a test's frame as the calls it has just made left it,
// for looking there for a secret after a private-key operation: clear it,
// run the operation, copy it, all from one test body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace tokencrypto_test {

// Further than the calls of any operation reach.
constexpr size_t kDeadStackBytes = 64 * 1024;

[[gnu::noinline]] inline void ClearDeadStack()
{
    uint8_t area[kDeadStackBytes];
    std::memset(area, 0, sizeof area);
    __asm__ __volatile__("" : : "r"(area) : "memory");
}

// Read byte by byte and unchecked: it is whatever the dead frames left.
[[gnu::noinline, gnu::no_sanitize_address]] inline std::vector<uint8_t> DeadStack()
{
    uint8_t area[kDeadStackBytes];
    __asm__ __volatile__("" : : "r"(area) : "memory");
    std::vector<uint8_t> copy(sizeof area);
    const volatile uint8_t* from = area;
    for (size_t i = 0; i < sizeof area; ++i) copy[i] = from[i];
    return copy;
}

// Whether any whole 8-byte piece of the big-endian value lies in bytes,
// as it is written or as little-endian digits and limbs hold it.
inline bool Holds(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& value)
{
    const std::vector<uint8_t> reversed(value.rbegin(), value.rend());
    std::set<uint64_t> pieces;
    for (const auto* form : {&value, &reversed}) {
        for (size_t end = form->size(); end >= 8; end -= 8) {
            uint64_t piece;
            std::memcpy(&piece, form->data() + end - 8, 8);
            pieces.insert(piece);
        }
    }
    for (size_t i = 0; i + 8 <= bytes.size(); ++i) {
        uint64_t word;
        std::memcpy(&word, &bytes[i], 8);
        if (pieces.count(word) != 0) return true;
    }
    return false;
}

} // namespace tokencrypto_test
