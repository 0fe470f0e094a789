#include "XmlPropertyList.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace {

// Deeper nesting than any real list; refused so that a hostile file cannot exhaust the stack.
constexpr int deepestNesting = 64;

[[nodiscard]] bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t skipSpaces(std::string_view& rest) {
    auto count = std::size_t(std::find_if_not(rest.begin(), rest.end(), isSpace) - rest.begin());
    rest.remove_prefix(count);
    return count;
}

// The control characters that no XML document may hold, written or referred to.
[[nodiscard]] bool isForbidden(std::uint32_t code) {
    return code < 0x20 && code != '\t' && code != '\n' && code != '\r';
}

// Skips up to and past `end`; false when it never comes.
[[nodiscard]] bool skipPast(std::string_view& rest, std::string_view end) {
    auto found = rest.find(end);
    if (found == std::string_view::npos)
        return false;
    rest.remove_prefix(found + end.size());
    return true;
}

// A comment, from its "<!--": its text may not hold "--", nor end with "-".
[[nodiscard]] bool skipComment(std::string_view& rest) {
    rest.remove_prefix(4);
    auto end = rest.find("--");
    if (end == std::string_view::npos || rest.substr(end + 2, 1) != ">")
        return false;
    rest.remove_prefix(end + 3);
    return true;
}

// Skips white space, comments and processing instructions.
[[nodiscard]] bool skipMisc(std::string_view& rest) {
    for (;;) {
        skipSpaces(rest);
        if (rest.starts_with("<?")) {
            if (!skipPast(rest, "?>"))
                return false;
        } else if (rest.starts_with("<!--")) {
            if (!skipComment(rest))
                return false;
        } else {
            return true;
        }
    }
}

// The end of a name: a name stops at white space and at any character of the markup.
std::size_t nameLength(std::string_view rest) {
    return std::size_t(std::find_if(rest.begin(), rest.end(),
                                    [](char c) {
                                        return isSpace(c) || c == '/' || c == '>' || c == '<' ||
                                               c == '=' || c == '"' || c == '\'' || c == '[';
                                    }) -
                       rest.begin());
}

// A quoted value, from its opening quote. No '<' may stand in it, which XML requires of
// attributes and which a document type of ours never needs.
[[nodiscard]] bool skipQuoted(std::string_view& rest) {
    if (!rest.starts_with('"') && !rest.starts_with('\''))
        return false;
    auto end = rest.find_first_of(rest.front() == '"' ? "\"<" : "'<", 1);
    if (end == std::string_view::npos || rest[end] == '<')
        return false;
    rest.remove_prefix(end + 1);
    return true;
}

// The document type: its name, then a system identifier or a public and a system one,
// quoted. Anything else is refused, above all an internal subset, which could declare
// entities of its own.
[[nodiscard]] bool skipDocumentType(std::string_view& rest) {
    rest.remove_prefix(std::string_view("<!DOCTYPE").size());
    auto name = skipSpaces(rest) > 0 ? nameLength(rest) : 0;
    if (name == 0)
        return false;
    rest.remove_prefix(name);
    int identifiers = 0;
    if (skipSpaces(rest) > 0) {
        identifiers = rest.starts_with("SYSTEM") ? 1 : rest.starts_with("PUBLIC") ? 2 : 0;
        rest.remove_prefix(identifiers ? 6 : 0);
    }
    for (int i = 0; i < identifiers; ++i)
        if (skipSpaces(rest) == 0 || !skipQuoted(rest))
            return false;
    skipSpaces(rest);
    if (!rest.starts_with('>'))
        return false;
    rest.remove_prefix(1);
    return true;
}

// Skips what comes before the root, where alone a document type may stand.
[[nodiscard]] bool skipProlog(std::string_view& rest) {
    if (!skipMisc(rest))
        return false;
    if (rest.starts_with("<!DOCTYPE") && !skipDocumentType(rest))
        return false;
    return skipMisc(rest);
}

struct Tag {
    std::string_view name;
    bool closing = false;
    bool empty = false; // <name/>
};

// One name="value" pair, its value unread. Held to the letter: a reader that takes a stray
// quote for the start of a value ends the tag somewhere else than another reader does.
[[nodiscard]] bool skipAttribute(std::string_view& rest) {
    auto length = nameLength(rest);
    rest.remove_prefix(length);
    skipSpaces(rest);
    if (length == 0 || !rest.starts_with('='))
        return false;
    rest.remove_prefix(1);
    skipSpaces(rest);
    return skipQuoted(rest);
}

// A start, end or empty-element tag; its attributes are checked but not kept.
Result<Tag> readTag(std::string_view& rest) {
    if (!rest.starts_with('<'))
        return Failure{};
    rest.remove_prefix(1);
    Tag tag;
    if (rest.starts_with('/')) {
        tag.closing = true;
        rest.remove_prefix(1);
    }
    tag.name = rest.substr(0, nameLength(rest));
    rest.remove_prefix(tag.name.size());
    if (tag.name.empty())
        return Failure{};
    for (;;) {
        bool spaced = skipSpaces(rest) > 0;
        if (rest.starts_with('>')) {
            rest.remove_prefix(1);
            return tag;
        }
        if (rest.starts_with("/>") && !tag.closing) {
            rest.remove_prefix(2);
            tag.empty = true;
            return tag;
        }
        if (!spaced || tag.closing || !skipAttribute(rest))
            return Failure{};
    }
}

void appendUtf8(std::string& text, std::uint32_t code) {
    if (code < 0x80) {
        text += char(code);
    } else if (code < 0x800) {
        text += char(0xC0 | code >> 6);
        text += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += char(0xE0 | code >> 12);
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    } else {
        text += char(0xF0 | code >> 18);
        text += char(0x80 | (code >> 12 & 0x3F));
        text += char(0x80 | (code >> 6 & 0x3F));
        text += char(0x80 | (code & 0x3F));
    }
}

// One reference after its '&', up to and past its ';'.
[[nodiscard]] bool appendReference(std::string_view& rest, std::string& text) {
    auto end = rest.find(';');
    if (end == std::string_view::npos)
        return false;
    std::string_view name = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    static constexpr std::pair<std::string_view, char> named[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (auto [entity, character] : named)
        if (name == entity) {
            text += character;
            return true;
        }
    if (!name.starts_with('#'))
        return false;
    name.remove_prefix(1);
    int base = 10;
    if (name.starts_with('x')) {
        base = 16;
        name.remove_prefix(1);
    }
    std::uint32_t code = 0;
    auto [stop, error] = std::from_chars(name.data(), name.data() + name.size(), code, base);
    if (name.empty() || error != std::errc() || stop != name.data() + name.size() ||
        isForbidden(code) || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    appendUtf8(text, code);
    return true;
}

// The character data of `element` up to and past its end tag.
Result<std::string> readText(std::string_view& rest, std::string_view element) {
    std::string text;
    for (;;) {
        auto stop = std::size_t(
            std::find_if(rest.begin(), rest.end(), [](char c) { return c == '<' || c == '&'; }) -
            rest.begin());
        if (stop == rest.size())
            return Failure{};
        text.append(rest.substr(0, stop));
        rest.remove_prefix(stop);
        if (rest.front() == '&') {
            rest.remove_prefix(1);
            if (!appendReference(rest, text))
                return Failure{};
        } else if (rest.starts_with("<![CDATA[")) {
            rest.remove_prefix(9);
            auto end = rest.find("]]>");
            if (end == std::string_view::npos)
                return Failure{};
            text.append(rest.substr(0, end));
            rest.remove_prefix(end + 3);
        } else if (rest.starts_with("<!--")) {
            if (!skipComment(rest))
                return Failure{};
        } else {
            auto tag = readTag(rest);
            if (!tag || !tag->closing || tag->name != element)
                return Failure{};
            return text;
        }
    }
}

[[nodiscard]] bool isValue(std::string_view name) {
    static constexpr std::string_view values[] = {"string", "integer", "real", "true", "false",
                                                  "date",   "data",    "dict", "array"};
    return std::find(std::begin(values), std::end(values), name) != std::end(values);
}

Result<Tag> nextTag(std::string_view& rest) {
    return skipMisc(rest) ? readTag(rest) : Failure{};
}

// The rest of a value whose start tag is `open`, up to and past its end tag.
[[nodiscard]] bool skipValue(std::string_view& rest, const Tag& open, int depth) {
    if (open.empty)
        return true;
    if (open.name != "dict" && open.name != "array")
        return readText(rest, open.name).has_value();
    if (depth >= deepestNesting)
        return false;
    for (;;) {
        auto tag = nextTag(rest);
        if (!tag)
            return false;
        if (tag->closing)
            return tag->name == open.name;
        bool isKey = open.name == "dict" && tag->name == "key";
        if (!(isKey || isValue(tag->name)) || !skipValue(rest, *tag, depth + 1))
            return false;
    }
}

[[nodiscard]] bool isStart(const Result<Tag>& tag, std::string_view name) {
    return tag && !tag->closing && tag->name == name;
}

[[nodiscard]] bool isEnd(const Result<Tag>& tag, std::string_view name) {
    return tag && tag->closing && tag->name == name;
}

} // namespace

Result<std::map<std::string, std::string>> dictionaryTexts(std::string_view document) {
    for (char c : document)
        if (isForbidden(std::uint8_t(c)))
            return Failure{};
    if (document.starts_with("\xEF\xBB\xBF"))
        document.remove_prefix(3);
    auto plist = skipProlog(document) ? readTag(document) : Failure{};
    auto dict = plist && !plist->empty ? nextTag(document) : Failure{};
    if (!isStart(plist, "plist") || !isStart(dict, "dict"))
        return Failure{};
    std::map<std::string, std::string> texts;
    Result<Tag> tag = dict->empty ? Tag{"dict", true} : nextTag(document);
    for (; !isEnd(tag, "dict"); tag = nextTag(document)) {
        if (!isStart(tag, "key") || tag->empty)
            return Failure{};
        auto key = readText(document, "key");
        auto value = key ? nextTag(document) : Failure{};
        if (!value || value->closing)
            return Failure{};
        // A key given again keeps only its last value.
        texts.erase(*key);
        if (value->name == "string") {
            auto text = value->empty ? std::string() : readText(document, "string");
            if (!text)
                return Failure{};
            texts.emplace(std::move(*key), std::move(*text));
        } else if (!isValue(value->name) || !skipValue(document, *value, 1)) {
            return Failure{};
        }
    }
    if (!isEnd(nextTag(document), "plist") || !skipMisc(document) || !document.empty())
        return Failure{};
    return texts;
}
