// host_functions.h - host functions: the handle's table of them, and the record of a call in a tree.
#ifndef LIB_PARSE_HOST_H
#define LIB_PARSE_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "lib_parse.h"
#include "support/checked_memory.h"
#include "tree/lane_form.h"
#include "tree/operation_table.h"

namespace lp {

struct HostFunction {
    int min_args, max_args; // the counts a call may have
    parser_native_fn fn;    // null for the conditional
    void *ctx;
    bool pure;
    bool conditional; // if(c, a, b), evaluated lazily: an operation, not a function
    uint64_t order;   // when the name was first defined: listings keep that order
    bool thread_safe; // may be called from several threads at once
    LaneForm lanes = LaneForm::CALL;
    bool own = false; // the library's own (the math set): it never calls back into a handle
};

// The record of a call node: what to call, copied from the table, so a tree
// never reads a definition replaced since. A call with the wrong number of
// arguments has no function and no arguments: its value is 0.
struct CallData {
    NodeData data; // first: the node's record is read as a NodeData everywhere
    parser_native_fn fn;
    void *ctx;
    int32_t n_args; // the argument links under the node
    bool pure;
    bool conditional; // if(c, a, b): only the branch c chooses is evaluated; no function
    bool thread_safe; // bulk rows that call it may run on several threads
    LaneForm lanes;
    bool own; // runs no host code: the library's own function, or none (a call with the wrong count)
};

inline const CallData *call_of(const NodeData *d) { return reinterpret_cast<const CallData *>(d); }

} // namespace lp

#endif // LIB_PARSE_HOST_H
