// name_supply.h - the host's values for names no variable has, asked for while a tree is built.
#ifndef LIB_PARSE_NAME_SUPPLY_H
#define LIB_PARSE_NAME_SUPPLY_H

#include <string_view>

struct Variable;

namespace lp {

// What a build asks when a name reads no variable: the variable the host
// supplied for NAME (defined now), or null. The api layer implements it over
// parser_on_unknown, asking once per name per build; the front ends and the
// program builder only call it.
struct NameSupply {
    const Variable *(*supply)(void *ctx, std::string_view name);
    void *ctx;
    const Variable *operator()(std::string_view name) const { return supply(ctx, name); }
};

} // namespace lp

#endif // LIB_PARSE_NAME_SUPPLY_H
