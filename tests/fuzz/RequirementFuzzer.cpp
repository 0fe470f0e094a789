// Arbitrary requirement texts against a few identities: no crash, no runaway recursion,
// and a text that admits an identity still admits it when joined with itself.
#include "Shared/CodeIdentity.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CodeIdentity identities[] = {
        {},
        {"a", "T", true, {{"field.1.2", "v"}}, {{"e", "v"}}},
        {"CorvanePluginAgent", "R8QZK2MX4T", true, {}, {}},
    };
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const CodeIdentity& identity : identities)
        if (satisfies(identity, text) && !(satisfies(identity, text + " or " + text) &&
                                           satisfies(identity, text + " and " + text)))
            std::abort();
    return 0;
}
