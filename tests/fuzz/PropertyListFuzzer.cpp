// Arbitrary bytes as an information list: no crash and no runaway recursion; and where both
// the reader and the reference library take the bytes for a list, they read the same texts.
#include "Platform/linux/bundle/XmlPropertyList.h"
#include "support/ReferencePropertyList.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    auto texts = dictionaryTexts(document);
    if (!texts)
        return 0;
    auto library = referenceDictionaryTexts(document);
    if (library && *library != *texts)
        std::abort();
    return 0;
}
