#pragma once

#include <map>
#include <optional>
#include <plist/plist.h>
#include <string>
#include <string_view>

// What libplist, the reference, reads from a list: its dictionary's text values; nothing
// when the list is no dictionary.
inline std::optional<std::map<std::string, std::string>>
referenceDictionaryTexts(std::string_view document) {
    plist_t root = nullptr;
    plist_from_memory(document.data(), uint32_t(document.size()), &root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return std::nullopt;
    }
    std::map<std::string, std::string> texts;
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
