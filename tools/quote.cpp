// quote.cpp - quoting input in messages: a short, inert copy of it.
#include "quote.h"

namespace lparse {

namespace {
constexpr size_t kShownBytes = 40;

bool continues_character(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
} // namespace

std::string quoted(std::string_view text) {
    size_t shown = text.size();
    if (shown > kShownBytes) {
        shown = kShownBytes;
        while (shown > 0 && continues_character(text[shown])) --shown;
    }
    std::string out = "'";
    for (const char c : text.substr(0, shown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= ' ' && byte != 0x7f) {
            out += c;
            continue;
        }
        static const char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    if (shown < text.size()) out += "...";
    return out + "'";
}

} // namespace lparse
