// quote.cpp - quoting input in messages: a short, inert copy of it.
#include "quote.h"

namespace lparse {

namespace {
constexpr size_t kShownBytes = 40;

bool continues_character(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
} // namespace

size_t printable_at(std::string_view text, size_t at) {
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80) return lead >= ' ' && lead != 0x7f ? 1 : 0;
    // The second byte's range for each lead (overlong, surrogate and
    // beyond-Unicode forms excluded), then continuation bytes.
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
    if (lead == 0xC2 && byte(at + 1) < 0xA0) return 0; // U+0080..U+009F, the C1 controls
    return length;
}

std::string quoted(std::string_view text) {
    size_t shown = text.size();
    if (shown > kShownBytes) {
        shown = kShownBytes;
        while (shown > 0 && continues_character(text[shown])) --shown;
    }
    std::string out = "'";
    const std::string_view shown_text = text.substr(0, shown);
    for (size_t at = 0; at < shown_text.size();) {
        if (const size_t length = printable_at(shown_text, at)) {
            out.append(shown_text, at, length);
            at += length;
            continue;
        }
        static const char digits[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(shown_text[at++]);
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    if (shown < text.size()) out += "...";
    return out + "'";
}

} // namespace lparse
