// Arbitrary bytes as an information list: no crash and no runaway recursion; and where both
// the reader and the reference library take the bytes for a list, they read the same texts.
#include "Platform/linux/XmlPropertyList.h"

#include <cstdint>
#include <cstdlib>
#include <plist/plist.h>

namespace {

std::optional<std::map<std::string, std::string>> libraryTexts(const std::uint8_t* data,
                                                               std::size_t size) {
    plist_t root = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data), uint32_t(size), &root);
    std::map<std::string, std::string> texts;
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return std::nullopt;
    }
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root, &iterator);
    for (char* key = nullptr;; free(key)) {
        plist_t value = nullptr;
        plist_dict_next_item(root, iterator, &key, &value);
        if (!key)
            break;
        char* text = nullptr;
        if (plist_get_node_type(value) == PLIST_STRING)
            plist_get_string_val(value, &text);
        if (text)
            texts.emplace(key, text);
        free(text);
    }
    free(iterator);
    plist_free(root);
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto texts = dictionaryTexts({reinterpret_cast<const char*>(data), size});
    if (!texts)
        return 0;
    auto library = libraryTexts(data, size);
    if (library && *library != *texts)
        std::abort();
    return 0;
}
