// The requirement language, as far as our texts use it:
//   requirement := all ("or" all)*
//   all         := term ("and" term)*
//   term        := "(" requirement ")"
//                | "anchor" "apple" "generic"
//                | "identifier" STRING
//                | "certificate" "leaf" "[" KEY "]" ("=" STRING | "exists")
//                | "entitlement" "[" STRING "]" "=" STRING
//   KEY         := "subject.OU" | "field." OID
// The whole text is always parsed, so a text with a syntax error anywhere is satisfied
// by nobody, whatever the identity.
#include "CodeIdentity.h"

#include <cctype>

namespace {

// Deeper than any text we write; keeps a hostile text from exhausting the stack.
constexpr int largestNesting = 64;

enum class TokenKind { word, string, open, close, openBracket, closeBracket, equals, end, invalid };

struct Token {
    TokenKind kind = TokenKind::end;
    std::string text; // a word, or a string's unescaped contents
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
}

class Lexer {
  public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Token next() {
        while (position_ < text_.size() && isSpace(text_[position_]))
            ++position_;
        if (position_ == text_.size())
            return {TokenKind::end, {}};
        char c = text_[position_];
        if (c == '"')
            return quotedString();
        if (isWordCharacter(c)) {
            std::size_t start = position_;
            while (position_ < text_.size() && isWordCharacter(text_[position_]))
                ++position_;
            return {TokenKind::word, std::string(text_.substr(start, position_ - start))};
        }
        ++position_;
        switch (c) {
        case '(':
            return {TokenKind::open, {}};
        case ')':
            return {TokenKind::close, {}};
        case '[':
            return {TokenKind::openBracket, {}};
        case ']':
            return {TokenKind::closeBracket, {}};
        case '=':
            return {TokenKind::equals, {}};
        default:
            return {TokenKind::invalid, {}};
        }
    }

  private:
    // A backslash takes the next character literally.
    Token quotedString() {
        std::string contents;
        for (++position_; position_ < text_.size(); ++position_) {
            char c = text_[position_];
            if (c == '"') {
                ++position_;
                return {TokenKind::string, std::move(contents)};
            }
            if (c == '\\' && ++position_ == text_.size())
                break;
            contents += text_[position_];
        }
        return {TokenKind::invalid, {}};
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

bool isObjectIdentifier(std::string_view text) {
    std::size_t components = 0;
    while (true) {
        std::size_t digits = 0;
        while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
            ++digits;
        if (digits == 0)
            return false;
        ++components;
        text.remove_prefix(digits);
        if (text.empty())
            return components >= 2;
        if (text.front() != '.')
            return false;
        text.remove_prefix(1);
    }
}

class Evaluator {
  public:
    Evaluator(std::string_view text, const CodeIdentity& identity)
        : lexer_(text), identity_(identity) {
        advance();
    }

    bool evaluate() {
        bool result = requirement();
        if (current_.kind != TokenKind::end)
            failed_ = true;
        return result && !failed_;
    }

  private:
    void advance() {
        current_ = failed_ ? Token{TokenKind::end, {}} : lexer_.next();
        if (current_.kind == TokenKind::invalid)
            fail();
    }

    void fail() {
        failed_ = true;
        current_ = {TokenKind::end, {}};
    }

    bool atWord(std::string_view word) const {
        return current_.kind == TokenKind::word && current_.text == word;
    }

    void expect(TokenKind kind) {
        if (current_.kind != kind)
            fail();
        advance();
    }

    void expectWord(std::string_view word) {
        if (!atWord(word))
            fail();
        advance();
    }

    std::string expectString() {
        std::string text = current_.kind == TokenKind::string ? current_.text : std::string();
        expect(TokenKind::string);
        return text;
    }

    // Both sides are always parsed: no short cut may skip a syntax error.
    bool requirement() {
        bool result = all();
        while (!failed_ && atWord("or")) {
            advance();
            bool alternative = all();
            result = result || alternative;
        }
        return result;
    }

    bool all() {
        bool result = term();
        while (!failed_ && atWord("and")) {
            advance();
            bool condition = term();
            result = result && condition;
        }
        return result;
    }

    bool term() {
        if (current_.kind == TokenKind::open)
            return group();
        if (atWord("anchor")) {
            advance();
            expectWord("apple");
            expectWord("generic");
            return identity_.anchoredByPlatform;
        }
        if (atWord("identifier")) {
            advance();
            return expectString() == identity_.identifier && !failed_;
        }
        if (atWord("certificate"))
            return leafCertificate();
        if (atWord("entitlement"))
            return entitlement();
        fail();
        return false;
    }

    bool group() {
        if (++depth_ > largestNesting) {
            fail();
            return false;
        }
        advance();
        bool result = requirement();
        expect(TokenKind::close);
        --depth_;
        return result;
    }

    bool leafCertificate() {
        advance();
        expectWord("leaf");
        expect(TokenKind::openBracket);
        std::string key = current_.kind == TokenKind::word ? current_.text : std::string();
        expect(TokenKind::word);
        expect(TokenKind::closeBracket);
        bool isTeam = key == "subject.OU";
        if (!isTeam && !(key.starts_with("field.") && isObjectIdentifier(key.substr(6))))
            fail();
        const std::string* value = nullptr;
        if (isTeam) {
            value = identity_.team.empty() ? nullptr : &identity_.team;
        } else if (auto it = identity_.certificateFields.find(key);
                   it != identity_.certificateFields.end()) {
            value = &it->second;
        }
        if (atWord("exists")) {
            advance();
            return value != nullptr && !failed_;
        }
        expect(TokenKind::equals);
        std::string wanted = expectString();
        return value != nullptr && *value == wanted && !failed_;
    }

    bool entitlement() {
        advance();
        expect(TokenKind::openBracket);
        std::string key = expectString();
        expect(TokenKind::closeBracket);
        expect(TokenKind::equals);
        std::string wanted = expectString();
        auto it = identity_.entitlements.find(key);
        return it != identity_.entitlements.end() && it->second == wanted && !failed_;
    }

    Lexer lexer_;
    const CodeIdentity& identity_;
    Token current_;
    int depth_ = 0;
    bool failed_ = false;
};

} // namespace

bool satisfies(const CodeIdentity& identity, std::string_view requirement) {
    return Evaluator(requirement, identity).evaluate();
}
