// name_list.cpp - recording the names a build meets, as variables or unknown names.
#include "tree/name_list.h"

#include "lib_parse.h"
#include "support/variables.h"
#include "tree/operand.h"

namespace lp {

void NameList::leaf(const char *text, Span place) {
    if (!is_name(text)) return;
    const Variable *v = variable_by_prefix(vars_, text);
    if (v != nullptr)
        uses_.push_back(Use{PARSER_NAME_VARIABLE, place, v->name});
    else
        uses_.push_back(Use{PARSER_NAME_UNKNOWN, place, text});
}

} // namespace lp
