// report.h - reporting an error to the host's handler and to the handle being built.
#ifndef LIB_PARSE_REPORT_H
#define LIB_PARSE_REPORT_H

#include <cassert>

namespace lp {

// Errors reported while the current tree was built.
struct ErrorLog {
    int count = 0;
    int first_code = 0;
};

// Reports CODE through exception() and records it in the log of the
// expansion running on this thread, if any.
void report_error(int line, int code);

// Makes LOG the destination of report_error on this thread until the scope ends.
class ErrorScope {
public:
    explicit ErrorScope(ErrorLog *log);
    ~ErrorScope();
    ErrorScope(const ErrorScope &) = delete;
    ErrorScope &operator=(const ErrorScope &) = delete;

private:
    ErrorLog *previous_;
};

} // namespace lp

#define LP_REPORT(code) ::lp::report_error(__LINE__, code)

namespace lp {
// For a branch that no input can take: debug builds stop there, release
// builds take it and do what it defines.
inline bool impossible(bool condition) {
    assert(!condition && "a branch no input reaches was taken");
    return condition;
}
} // namespace lp

#endif // LIB_PARSE_REPORT_H
