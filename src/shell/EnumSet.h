// A set of the members of an enumeration with at most 32 members, kept as one
// 32-bit word (member n is bit n).
#pragma once
#include <cstdint>
#include <initializer_list>

namespace shell {

template <class E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members) {
        for (E m : members) FBits |= Bit(m);
    }
    static constexpr TEnumSet FromBits(uint32_t bits) {
        TEnumSet s;
        s.FBits = bits;
        return s;
    }

    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr TEnumSet& Include(E m) {
        FBits |= Bit(m);
        return *this;
    }
    constexpr TEnumSet& Exclude(E m) {
        FBits &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<unsigned>(m); }
    uint32_t FBits = 0;
};

}  // namespace shell
