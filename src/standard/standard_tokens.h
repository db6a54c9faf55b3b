// standard_tokens.h - cutting a text of the standard grammar into tokens, and reading a user function's prototype.
#ifndef LIB_PARSE_STANDARD_TOKENS_H
#define LIB_PARSE_STANDARD_TOKENS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/checked_memory.h"

namespace lp {

enum class Token : uint8_t {
    END,
    NUMBER,
    NAME,
    PLUS,
    MINUS,
    STAR,
    SLASH,
    PERCENT,
    CARET,
    BANG,
    LESS,
    LESS_EQUAL,
    GREATER,
    GREATER_EQUAL,
    EQUAL,
    NOT_EQUAL,
    AND,
    OR,
    QUESTION,
    COLON,
    OPEN,
    CLOSE,
    COMMA,
    ASSIGN, // '=' alone: no operator, but worth a note
    BAD,    // a byte that begins no token, or a number run into a name: '#', '2x', '1e'
};

struct Lexeme {
    Token kind;
    size_t offset, length; // in the text cut
    float number;          // a NUMBER's value
};

// True for the bytes a name begins with, and those it goes on with.
inline bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
inline bool is_name_byte(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
// Blanks only separate tokens.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// By byte, the token of one byte that never begins a longer one (most of a
// text's operators and brackets), or END.
struct SingleBytes {
    Token of[256];
    constexpr SingleBytes() : of{} {
        const char bytes[] = "+-*/%^?:(),";
        const Token tokens[] = {Token::PLUS,     Token::MINUS, Token::STAR, Token::SLASH, Token::PERCENT, Token::CARET,
                                Token::QUESTION, Token::COLON, Token::OPEN, Token::CLOSE, Token::COMMA};
        for (size_t k = 0; k < sizeof tokens / sizeof tokens[0]; ++k) of[static_cast<unsigned char>(bytes[k])] = tokens[k];
    }
};
inline constexpr SingleBytes kSingleBytes;

// The tokens of TEXT one by one; blanks (space, tab, CR, LF) only separate them.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text, size_t from = 0) : text_(text), at_(from) {}
    // The next token. A name or an operator of one byte, most of a text's
    // tokens, is read here, in the parser's loop; the others by rest().
    Lexeme next() {
        while (at_ < text_.size() && is_blank(text_[at_])) ++at_;
        if (at_ < text_.size()) {
            const char c = text_[at_];
            const size_t start = at_;
            if (is_name_start(c)) {
                while (++at_ < text_.size() && is_name_byte(text_[at_])) {
                }
                return Lexeme{Token::NAME, start, at_ - start, 0.0f};
            }
            if (const Token single = kSingleBytes.of[static_cast<unsigned char>(c)]; single != Token::END) {
                ++at_;
                return Lexeme{single, start, 1, 0.0f};
            }
        }
        return rest();
    }
    // Where the "(" stands that the next token is, or SIZE_MAX when it is
    // another: after a name, whether it is called. Nothing is taken.
    size_t open_next() const {
        size_t at = at_;
        while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\n' || text_[at] == '\r')) ++at;
        return at < text_.size() && text_[at] == '(' ? at : SIZE_MAX;
    }
    size_t position() const { return at_; }

private:
    Lexeme rest();
    Lexeme number(size_t start);
    std::string_view text_;
    size_t at_;
};

// A prototype of the standard grammar, "f(a, b)": views into its text.
struct Prototype {
    std::string_view name;
    Vector<std::string_view> params;
};
// Reads PROTO into *OUT: a name, "(", distinct parameter names separated by
// commas, ")", blanks anywhere between. False when it has another form.
bool read_prototype(std::string_view proto, Prototype *out);

// Calls PARAMETER(name) for each parameter of PROTO, which read_prototype
// accepted, in order: what a call needs of it, with nothing allocated.
template <class Parameter>
void for_each_parameter(std::string_view proto, Parameter parameter) {
    Tokenizer tokens(proto);
    tokens.next(); // the name
    tokens.next(); // "("
    for (Lexeme t = tokens.next(); t.kind == Token::NAME; t = tokens.next()) {
        parameter(proto.substr(t.offset, t.length));
        if (tokens.next().kind != Token::COMMA) break;
    }
}

// The operation id of one of the language's eight functions named NAME, or -1.
int32_t language_function(std::string_view name);

} // namespace lp

#endif // LIB_PARSE_STANDARD_TOKENS_H
