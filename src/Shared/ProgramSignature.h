#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Programs signed the way our build signs them: the program's bytes, then a detached CMS
// signature (DER) over exactly those bytes, then a trailer: the signature's length as
// eight hex digits and a marker line.
namespace programsignature {

inline constexpr std::string_view marker = "~Corvane signature appended~\n";
inline constexpr std::size_t trailerBytes = 8 + marker.size();

// The signature's length, from `trailer`, a signed file's last trailerBytes; nothing when
// they are not a trailer.
std::optional<std::size_t> signatureLength(std::string_view trailer);

// Hands out the signed bytes in order: how many it put in `into` (at most `size`), 0 at
// their end, below 0 when they cannot be read.
using ContentReader = std::function<long(char* into, std::size_t size)>;

// What the verified signer's certificate says.
struct Signer {
    std::string organizationalUnit;            // empty unless the subject has exactly one
    std::map<std::string, std::string> fields; // "field.<oid>" -> a string value, or ""
};

// The signer, when `signature` is a CMS signature over the bytes `content` reads by
// exactly one signer whose certificate is for code signing and chains to `anchor` (PEM);
// otherwise nothing. Validity dates are not checked: no time-stamp says when a program
// was signed.
std::optional<Signer> verify(const ContentReader& content, std::string_view signature,
                             std::string_view anchor);

} // namespace programsignature
