// standard_tokens.cpp - the tokenizer of the standard grammar: numbers, names, operators, brackets.
#include "standard/standard_tokens.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

#include "tree/operation_table.h"

namespace lp {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The power of ten of the first significant digit of a number that
// from_chars found out of a float's range: at 0 or above it overflowed,
// below it underflowed. The exponent is read saturated.
long long magnitude(std::string_view number) {
    const size_t mantissa = std::min(number.find_first_of("eE"), number.size());
    const size_t point = std::min(number.find('.'), mantissa);
    const size_t first = number.substr(0, mantissa).find_first_of("123456789");
    if (first == std::string_view::npos) return -1; // zero, which is never out of range
    long long power = first < point ? static_cast<long long>(point - first) - 1 : -static_cast<long long>(first - point);
    size_t k = mantissa + 1;
    bool negative = false;
    if (k < number.size() && (number[k] == '+' || number[k] == '-')) negative = number[k++] == '-';
    long long exponent = 0;
    for (; k < number.size(); ++k)
        if (exponent < 1000000000) exponent = exponent * 10 + (number[k] - '0');
    return power + (negative ? -exponent : exponent);
}

} // namespace

// Digits with at most one '.', at least one digit, then an exponent: 'e' or
// 'E', a sign, digits. Read correctly rounded to the nearest float, whatever
// the process locale. A number run into a name or another '.' is one BAD
// token: '2x', '1e', '1.2.3'.
Lexeme Tokenizer::number(size_t start) {
    size_t p = start;
    uint32_t integer = 0;
    while (p < text_.size() && is_digit(text_[p])) integer = integer * 10 + static_cast<uint32_t>(text_[p++] - '0');
    // Up to seven digits and nothing after them: an integer below 2^24, which
    // a float holds exactly, so it is the float from_chars would round to.
    if (p - start <= 7 && (p == text_.size() || !(is_name_byte(text_[p]) || text_[p] == '.'))) {
        at_ = p;
        return Lexeme{Token::NUMBER, start, p - start, static_cast<float>(integer)};
    }
    const size_t whole_digits = p - start;
    uint64_t mantissa = integer;
    if (p < text_.size() && text_[p] == '.') ++p;
    const size_t fraction_from = p;
    while (p < text_.size() && is_digit(text_[p])) mantissa = mantissa * 10 + static_cast<uint64_t>(text_[p++] - '0');
    // A short decimal such as 0.5 or 1.0078125: its digits an integer a
    // float holds exactly, divided by a power of ten a float holds exactly.
    // One division rounds the quotient once, to the float from_chars reads.
    const size_t fraction_digits = p - fraction_from;
    if (whole_digits + fraction_digits <= 9 && fraction_digits <= 10 && mantissa <= (uint64_t{1} << 24) &&
        (p == text_.size() || !(is_name_byte(text_[p]) || text_[p] == '.'))) {
        static constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
        at_ = p;
        // Converted as a signed integer, as 0 must stay +0 in every rounding mode.
        return Lexeme{Token::NUMBER, start, p - start,
                      static_cast<float>(static_cast<int32_t>(mantissa)) / kPowersOfTen[fraction_digits]};
    }
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
        size_t q = p + 1;
        if (q < text_.size() && (text_[q] == '+' || text_[q] == '-')) ++q;
        if (q < text_.size() && is_digit(text_[q])) {
            while (q < text_.size() && is_digit(text_[q])) ++q;
            p = q;
        }
    }
    if (p < text_.size() && (is_name_byte(text_[p]) || text_[p] == '.')) {
        while (p < text_.size() && (is_name_byte(text_[p]) || text_[p] == '.')) ++p;
        at_ = p;
        return Lexeme{Token::BAD, start, p - start, 0.0f};
    }
    const std::string_view digits = text_.substr(start, p - start);
    float value = 0.0f;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) value = magnitude(digits) >= 0 ? INFINITY : 0.0f;
    at_ = p;
    return Lexeme{Token::NUMBER, start, p - start, value};
}

// The end, a number, and the operators of two bytes or that may be (next()
// has read the blanks before them).
Lexeme Tokenizer::rest() {
    const size_t start = at_;
    if (at_ == text_.size()) return Lexeme{Token::END, start, 0, 0.0f};
    const char c = text_[at_];
    if (is_digit(c) || (c == '.' && at_ + 1 < text_.size() && is_digit(text_[at_ + 1]))) return number(start);
    const char d = at_ + 1 < text_.size() ? text_[at_ + 1] : 0;
    Token kind = Token::BAD;
    size_t length = 1;
    switch (c) {
    case '!': kind = d == '=' ? Token::NOT_EQUAL : Token::BANG; break;
    case '<': kind = d == '=' ? Token::LESS_EQUAL : Token::LESS; break;
    case '>': kind = d == '=' ? Token::GREATER_EQUAL : Token::GREATER; break;
    case '=': kind = d == '=' ? Token::EQUAL : Token::ASSIGN; break;
    case '&': kind = d == '&' ? Token::AND : Token::BAD; break;
    case '|': kind = d == '|' ? Token::OR : Token::BAD; break;
    default: break;
    }
    if ((c == '!' || c == '<' || c == '>' || c == '=') && d == '=') length = 2;
    if ((c == '&' || c == '|') && d == c) length = 2;
    // A character of several bytes is one token, so its place covers all of
    // it: the error on 'x × 2' is the whole '×'.
    if ((static_cast<unsigned char>(c) & 0xC0) == 0xC0)
        while (length < 4 && at_ + length < text_.size() && (static_cast<unsigned char>(text_[at_ + length]) & 0xC0) == 0x80)
            ++length;
    at_ += length;
    return Lexeme{kind, start, length, 0.0f};
}

bool read_prototype(std::string_view proto, Prototype *out) {
    Tokenizer tokens(proto);
    Lexeme t = tokens.next();
    if (t.kind != Token::NAME || language_function(proto.substr(t.offset, t.length)) >= 0) return false;
    out->name = proto.substr(t.offset, t.length);
    out->params.clear();
    if (tokens.next().kind != Token::OPEN) return false;
    t = tokens.next();
    if (t.kind != Token::CLOSE) {
        for (;;) {
            if (t.kind != Token::NAME) return false;
            out->params.push_back(proto.substr(t.offset, t.length));
            t = tokens.next();
            if (t.kind == Token::CLOSE) break;
            if (t.kind != Token::COMMA) return false;
            t = tokens.next();
        }
    }
    if (tokens.next().kind != Token::END) return false;
    // Distinct names, told apart in sorted order: a prototype of many parameters is read in n log n.
    Vector<std::string_view> sorted(out->params);
    std::sort(sorted.begin(), sorted.end());
    return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

int32_t language_function(std::string_view name) {
    // The functions' names as views, made once: a lookup then compares
    // lengths before bytes, and neither fills the table nor measures a name.
    static const auto names = [] {
        parser_init();
        std::array<std::string_view, OP_COUNT> views{};
        for (int32_t id = OP_COS; id < OP_COUNT; ++id) views[id] = operation[id].name;
        return views;
    }();
    for (int32_t id = OP_COS; id < OP_COUNT; ++id)
        if (name == names[id]) return id;
    return -1;
}

} // namespace lp
