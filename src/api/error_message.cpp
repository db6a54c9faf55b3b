// error_message.cpp - parser_error_message: one line for an end user, naming the token and what would fix it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "api/call_scope.h"
#include "containers/memory.h"
#include "lib_parse.h"
#include "standard/standard_tokens.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/host_table.h"
#include "tree/notes.h"
#include "tree/operation_table.h"

using namespace lp;

namespace {

// The edits (insertions, deletions, substitutions) that turn A into B, or
// more than LIMIT once it is certain to be.
size_t edits(std::string_view a, std::string_view b, size_t limit) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
    Vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0], smallest = row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
            smallest = std::min(smallest, row[j]);
        }
        if (smallest > limit) return limit + 1;
    }
    return row[b.size()];
}

// The names a text could have meant: variables, functions of every kind.
// The nearest within two edits of NAME, the first met on a tie; "" if none.
String nearest_name(const Parser *parser, std::string_view name) {
    constexpr size_t kMostEdits = 2;
    String best;
    size_t best_edits = kMostEdits + 1;
    const auto consider = [&](std::string_view candidate) {
        if (candidate == name || candidate.empty()) return;
        // A name of one or two bytes is within two edits of nearly anything.
        const size_t limit = std::min(kMostEdits, name.size() / 2);
        const size_t n = edits(name, candidate, limit);
        if (n <= limit && n < best_edits) {
            best_edits = n;
            best.assign(candidate);
        }
    };
    for (int32_t id = OP_COS; id < OP_COUNT; ++id) consider(operation[id].name);
    for (const auto &entry : parser->hosts->functions()) consider(entry.first);
    for (const ListNode *n = parser->funcs->head; n != nullptr; n = n->next) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        consider(std::string_view(f->proto + f->name_from, f->name_length));
    }
    for (const ListNode *n = parser->vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        if (var_index_holds(&parser->var_index, v)) consider(v->name); // not one removed
    }
    return best;
}

bool is_function_name(const Parser *parser, std::string_view name) {
    if (language_function(name) >= 0 || parser->hosts->find(name.data(), name.size()) != nullptr) return true;
    for (const ListNode *n = parser->funcs->head; n != nullptr; n = n->next) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        if (std::string_view(f->proto + f->name_from, f->name_length) == name) return true;
    }
    return false;
}

// What a character that is no operator was likely meant as.
const char *ascii_for(std::string_view token) {
    static const struct {
        const char *typed, *meant;
    } kLookalikes[] = {{"\xC3\x97", "*"},     {"\xC2\xB7", "*"},     {"\xE2\x8B\x85", "*"}, {"\xC3\xB7", "/"},
                       {"\xE2\x88\x92", "-"}, {"\xE2\x80\x93", "-"}, {"\xE2\x89\xA4", "<="}, {"\xE2\x89\xA5", ">="},
                       {"\xE2\x89\xA0", "!="}};
    for (const auto &l : kLookalikes)
        if (token == l.typed) return l.meant;
    return nullptr;
}

// The message of error CODE on TOKEN, the part of the text it concerns
// (empty when the text was not kept); AT_END: it stands at the text's end,
// CALLED: a "(" follows it.
String message_of(const Parser *parser, int code, std::string_view token, bool at_end, bool called) {
    const String shown = quoted(token);
    switch (code) {
    case PARSER_ERR_TRAILING_OPERATOR: return shown + " ends with an operator: write the operand it needs after it";
    case PARSER_ERR_UNKNOWN_FUNCTION:
    case PARSER_ERR_UNKNOWN_NAME: {
        const std::string_view name = token.substr(0, std::min(token.find('('), token.size()));
        const bool call = called || name.size() < token.size() || code == PARSER_ERR_UNKNOWN_FUNCTION;
        if (!call && is_function_name(parser, name))
            return quoted(name) + " is a function: write " + String(name) + "(x)";
        String line = (call ? "unknown function " : "unknown name ") + quoted(name);
        if (const String near = nearest_name(parser, name); !near.empty()) line += ": did you mean " + quoted(near) + "?";
        return line;
    }
    case PARSER_ERR_SUBSTITUTION_LIMIT:
        return "the call " + shown + " needs more substitution than the handle's limits allow";
    case PARSER_ERR_TEXT_TOO_LONG: {
        char line[128];
        std::snprintf(line, sizeof line, "the text is longer than the limit of %lld bytes",
                      parser->limits.value[PARSER_LIMIT_TEXT_BYTES]);
        return line;
    }
    case PARSER_ERR_ARGUMENT_COUNT:
    case PARSER_ERR_CALL_ARGUMENTS: return "wrong number of arguments in " + shown;
    case PARSER_ERR_INTERRUPTED: return "stopped before the text was read to its end";
    case PARSER_ERR_EMPTY_ARGUMENT: return "an empty argument: write a value between the commas";
    case PARSER_ERR_UNEXPECTED_TOKEN:
        if (const char *meant = ascii_for(token)) return shown + " is not an operator: use '" + meant + "'";
        if (token == "=") return "'=' is no operator: '==' compares";
        if (!token.empty() && (static_cast<unsigned char>(token[0]) >= 0x80 || token[0] < ' '))
            return shown + " cannot stand in a formula";
        return shown + " cannot stand here";
    case PARSER_ERR_MISSING_TOKEN:
        return at_end ? String("the text ends where a value is needed") : shown + " stands where a value is needed";
    case PARSER_ERR_UNBALANCED_BRACKET:
        return token == ")" ? String("this ')' closes nothing") : String("this '(' is never closed");
    case PARSER_ERR_TRAILING_TEXT: return shown + " follows a whole formula: an operator is missing before it";
    default: return parser_error_text(code);
    }
}

} // namespace

extern "C" int parser_error_message(const Parser *parser, int index, char *buffer, size_t size) noexcept {
    if (parser == nullptr || index < 0 || static_cast<size_t>(index) >= parser->errors.entries().size()) return -1;
    const ErrorLog::Entry &entry = parser->errors.entries()[static_cast<size_t>(index)];
    // The text of the current tree, when it was kept; the place lies in it.
    const ExprCache *cache = parser->cache;
    std::string_view token;
    bool at_end = false, called = false;
    if (cache->last != nullptr && entry.span.offset <= cache->length) {
        const std::string_view text(cache->last, cache->length);
        token = text.substr(entry.span.offset, entry.span.length);
        at_end = entry.span.offset == text.size();
        const size_t next = text.find_first_not_of(" \t\n\r\v\f", entry.span.offset + token.size());
        called = next != std::string_view::npos && text[next] == '(';
    }
    const String line = message_of(parser, entry.code, token, at_end, called);
    if (size > 0) {
        const size_t n = std::min(line.size(), size - 1);
        std::memcpy(buffer, line.data(), n);
        buffer[n] = 0;
    }
    return static_cast<int>(std::min<size_t>(line.size(), INT32_MAX));
}
