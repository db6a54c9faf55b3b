// line_input.cpp - session lines from libedit's readline when it is built in, else from getline.
#include "line_input.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <sys/types.h>

#ifdef LPARSE_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace lparse {

namespace {

class PlainInput : public LineInput {
public:
    explicit PlainInput(std::string prompt) : prompt_(std::move(prompt)) {}
    ~PlainInput() override { std::free(buffer_); }
    PlainInput(const PlainInput &) = delete;
    PlainInput &operator=(const PlainInput &) = delete;

    bool read(std::string *line) override {
        if (!prompt_.empty()) {
            std::fputs(prompt_.c_str(), stdout);
            std::fflush(stdout);
        }
        const ssize_t length = getline(&buffer_, &capacity_, stdin);
        if (length < 0) return false;
        line->assign(buffer_, static_cast<size_t>(length));
        if (!line->empty() && line->back() == '\n') line->pop_back();
        return true;
    }

private:
    std::string prompt_;
    char *buffer_ = nullptr;
    size_t capacity_ = 0;
};

#ifdef LPARSE_HAVE_LIBEDIT
class EditedInput : public LineInput {
public:
    explicit EditedInput(std::string prompt) : prompt_(std::move(prompt)) { using_history(); }
    ~EditedInput() override { clear_history(); }
    EditedInput(const EditedInput &) = delete;
    EditedInput &operator=(const EditedInput &) = delete;

    bool read(std::string *line) override {
        char *text = readline(prompt_.c_str());
        if (text == nullptr) return false;
        line->assign(text);
        std::free(text);
        if (!line->empty()) add_history(line->c_str());
        return true;
    }

private:
    std::string prompt_;
};
#endif

} // namespace

bool have_line_editor() {
#ifdef LPARSE_HAVE_LIBEDIT
    return true;
#else
    return false;
#endif
}

std::unique_ptr<LineInput> open_standard_input(const std::string &prompt) {
#ifdef LPARSE_HAVE_LIBEDIT
    if (!prompt.empty()) return std::make_unique<EditedInput>(prompt);
#endif
    return std::make_unique<PlainInput>(prompt);
}

} // namespace lparse
