#pragma once

#include <cstdint>

// The records that travel in the second message set. The codec carries every
// field unchanged and gives none a meaning; each record's wire form is its
// fields in declaration order (protocol/detail/record_wire.h).

// A four-part version, parts[0] first on the wire.
class KTUVersion {
public:
    constexpr KTUVersion() noexcept = default;
    constexpr KTUVersion(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3) noexcept
        : parts{p0, p1, p2, p3} {}

    uint8_t parts[4] = {0, 0, 0, 0};
};

// A module identifier.
struct KTUGUID {
    uint32_t id1 = 0;
    uint32_t id2 = 0;
};

// A module and its version.
class KTUGuidVersion {
public:
    KTUGUID guid;
    uint32_t version = 0;
};

// A module and one status byte.
class KTUModuleInfo {
public:
    KTUGUID guid;
    uint8_t state = 0;
};

constexpr bool operator==(const KTUVersion& a, const KTUVersion& b) noexcept {
    return a.parts[0] == b.parts[0] && a.parts[1] == b.parts[1] && a.parts[2] == b.parts[2] &&
           a.parts[3] == b.parts[3];
}
constexpr bool operator==(const KTUGUID& a, const KTUGUID& b) noexcept {
    return a.id1 == b.id1 && a.id2 == b.id2;
}
constexpr bool operator==(const KTUGuidVersion& a, const KTUGuidVersion& b) noexcept {
    return a.guid == b.guid && a.version == b.version;
}
constexpr bool operator==(const KTUModuleInfo& a, const KTUModuleInfo& b) noexcept {
    return a.guid == b.guid && a.state == b.state;
}
constexpr bool operator!=(const KTUVersion& a, const KTUVersion& b) noexcept { return !(a == b); }
constexpr bool operator!=(const KTUGUID& a, const KTUGUID& b) noexcept { return !(a == b); }
constexpr bool operator!=(const KTUGuidVersion& a, const KTUGuidVersion& b) noexcept {
    return !(a == b);
}
constexpr bool operator!=(const KTUModuleInfo& a, const KTUModuleInfo& b) noexcept {
    return !(a == b);
}
