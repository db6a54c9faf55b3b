// silent_library.h - the libFuzzer initializer shared by the harnesses that call the public API.
#ifndef LIB_PARSE_FUZZ_SILENT_LIBRARY_H
#define LIB_PARSE_FUZZ_SILENT_LIBRARY_H

#include "lib_parse/diagnostics.h"

// Diagnostics and error reports go nowhere: the harnesses switch levels on
// and off, and printing megabytes of trace would only slow the campaign.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    dbg_set_sink([](void *, int, const char *) {}, nullptr);
    exception_set_handler([](void *, const char *, int, int) {}, nullptr);
    return 0;
}

#endif // LIB_PARSE_FUZZ_SILENT_LIBRARY_H
