#pragma once

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

struct SignedFile {
    std::string_view content;
    std::string_view signature;
};

// Nothing when `file` does not end in a well-formed trailer.
std::optional<SignedFile> split(std::string_view file);

// What the verified signer's certificate says.
struct Signer {
    std::string organizationalUnit;            // empty unless the subject has exactly one
    std::map<std::string, std::string> fields; // "field.<oid>" -> a string value, or ""
};

// The signer, when `signature` is a CMS signature over `content` by exactly one signer
// whose certificate is for code signing and chains to `anchor` (PEM); otherwise nothing.
// Validity dates are not checked: no time-stamp says when a program was signed.
std::optional<Signer> verify(std::string_view content, std::string_view signature,
                             std::string_view anchor);

} // namespace programsignature
