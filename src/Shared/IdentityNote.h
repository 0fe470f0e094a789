#pragma once

#include "CodeIdentity.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// The code-identity note our build places in each program, inside the signed bytes. An
// ELF note whose owner is "Corvane" and whose type is 1; its payload is a sequence of
// entries, each a key and a value, both ending in a NUL byte. Keys:
//   "identifier"          the program's identifier (required, not empty)
//   "entitlement.<name>"  an entitlement and its value
// Every key appears at most once; anything else makes the note malformed. Team, anchor
// and certificate fields are the signature's to say, never the note's.
namespace identitynote {

inline constexpr std::string_view owner = "Corvane";
inline constexpr std::uint32_t type = 1;
inline constexpr std::string_view entitlementPrefix = "entitlement.";

struct Entry {
    std::string_view key;
    std::string_view value;
};

constexpr std::size_t payloadSize(std::span<const Entry> entries) {
    std::size_t size = 0;
    for (const Entry& entry : entries)
        size += entry.key.size() + 1 + entry.value.size() + 1;
    return size;
}

constexpr std::size_t paddedToFour(std::size_t size) {
    return (size + 3) / 4 * 4;
}

// The note as it lies in the section, header included, in the machine's byte order.
template <std::size_t PayloadCapacity> struct Note {
    std::uint32_t ownerSize = owner.size() + 1;
    std::uint32_t payloadSize = 0;
    std::uint32_t noteType = type;
    std::array<char, paddedToFour(owner.size() + 1)> ownerName{};
    std::array<char, PayloadCapacity> payload{};
};

// Built at compile time: Capacity is paddedToFour(payloadSize(entries)).
template <std::size_t Capacity> constexpr Note<Capacity> makeNote(std::span<const Entry> entries) {
    Note<Capacity> note;
    note.payloadSize = static_cast<std::uint32_t>(payloadSize(entries));
    for (std::size_t i = 0; i < owner.size(); ++i)
        note.ownerName[i] = owner[i];
    std::size_t at = 0;
    for (const Entry& entry : entries) {
        for (char c : entry.key)
            note.payload[at++] = c;
        note.payload[at++] = '\0';
        for (char c : entry.value)
            note.payload[at++] = c;
        note.payload[at++] = '\0';
    }
    return note;
}

// The identifier and entitlements a payload describes; nothing when it is malformed.
std::optional<CodeIdentity> decodePayload(std::string_view payload);

} // namespace identitynote
