// line_input.cpp - session lines from libedit's readline when it is built in, else read plainly, a line ending at LF, CRLF or CR;
// Ctrl-C, the history file and Tab completion.
#include "line_input.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#ifdef LPARSE_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace lparse {

namespace {

volatile std::sig_atomic_t interrupted = 0;

// The handle the calculator works on: Ctrl-C stops a long line within a few
// milliseconds instead of after it.
std::atomic<Parser *> stopped_on_interrupt{nullptr};
static_assert(std::atomic<Parser *>::is_always_lock_free, "read by the signal handler");

void note_interrupt(int) {
    interrupted = 1;
    if (Parser *parser = stopped_on_interrupt.load()) parser_interrupt(parser);
}

sigset_t interrupt_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}

// Waits until standard input can be read; false when Ctrl-C came first. Ctrl-C
// is let in only inside ppoll, so one that comes just before the wait ends
// it too, instead of going unseen while a read blocks.
bool wait_for_input() {
    const sigset_t interrupt = interrupt_set();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &interrupt, &before);
    sigset_t waiting = before;
    sigdelset(&waiting, SIGINT);
    bool ready = false;
    while (interrupted == 0) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int count = ppoll(&in, 1, nullptr, &waiting);
        if (count > 0 || (count < 0 && errno != EINTR)) { // the read that follows tells an error
            ready = true;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return ready;
}

class PlainInput : public LineInput {
public:
    // Without a prompt stream, a script: no prompt and no Ctrl-C handling.
    PlainInput(FILE *in, std::string prompt, FILE *prompt_stream)
        : in_(in), prompt_(std::move(prompt)), prompt_stream_(prompt_stream) {}
    PlainInput(const PlainInput &) = delete;
    PlainInput &operator=(const PlainInput &) = delete;

    ReadStatus read(std::string *line) override {
        if (prompt_stream_ != nullptr) {
            if (interrupted != 0) return cancel(); // Ctrl-C while the last line was carried out
            std::fputs(prompt_.c_str(), prompt_stream_);
            std::fflush(prompt_stream_);
            // The terminal hands over whole lines, so a ready one is read at once.
            if (!wait_for_input()) return cancel();
        }
        // A line ends at LF, CRLF or a lone CR, as a CSV row does. The LF of
        // a CRLF is taken at the next read, so a CR never waits for more input.
        line->clear();
        bool read_any = false;
        for (int c; (c = getc_unlocked(in_)) != EOF;) {
            const bool after_cr = after_cr_;
            after_cr_ = c == '\r';
            if (c == '\n' && after_cr) continue;
            read_any = true;
            if (c == '\n' || c == '\r') return ReadStatus::LINE;
            line->push_back(static_cast<char>(c));
        }
        return read_any ? ReadStatus::LINE : ReadStatus::END;
    }

private:
    // The terminal echoed ^C and dropped what was typed; start a new line.
    ReadStatus cancel() {
        take_interrupt();
        std::fputc('\n', prompt_stream_);
        return ReadStatus::CANCELLED;
    }

    FILE *in_;
    std::string prompt_;
    FILE *prompt_stream_;
    bool after_cr_ = false; // the last line ended with a CR
};

#ifdef LPARSE_HAVE_LIBEDIT
// Creates the missing directories above PATH, as the XDG layout expects (0700).
bool make_parent_directories(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string directory = path.substr(0, slash);
        if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

constexpr int kHistoryLines = 1000;
// Names end at blanks, operators, brackets, commas and '=' (a ':' begins a command).
constexpr const char *kWordBreaks = " \t\n+-*/%^(),=";

// What Tab completes: the names in force when the completion starts.
std::function<std::vector<std::string>()> completion_names;
std::vector<std::string> matches;
size_t next_match_index = 0;

char *next_match(const char *text, int state) {
    if (state == 0) {
        matches.clear();
        next_match_index = 0;
        if (completion_names)
            for (std::string &name : completion_names())
                if (name.rfind(text, 0) == 0) matches.push_back(std::move(name));
        std::sort(matches.begin(), matches.end());
        matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
    }
    return next_match_index < matches.size() ? strdup(matches[next_match_index++].c_str()) : nullptr;
}

char *no_match(const char *, int) { return nullptr; }

char **complete(const char *text, int, int) {
    rl_attempted_completion_over = 1; // names only, never file names
    return rl_completion_matches(text, next_match);
}

// The editor's keys, one character a call as the locale encodes it; -1, which
// ends the line, at the end of input or on Ctrl-C, whenever it comes.
int read_key(FILE *) {
    std::mbstate_t state{};
    while (wait_for_input()) {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) != 1) return -1;
        wchar_t wide = 0;
        const size_t used = std::mbrtowc(&wide, &byte, 1, &state);
        if (used == static_cast<size_t>(-2)) continue; // more bytes of one character
        return used == static_cast<size_t>(-1) ? static_cast<unsigned char>(byte) : static_cast<int>(wide);
    }
    return -1;
}

class EditedInput : public LineInput {
public:
    explicit EditedInput(const TerminalSetup &setup)
        : prompt_(setup.prompt), prompt_stream_(setup.prompt_stream), history_file_(setup.history_file) {
        std::setlocale(LC_CTYPE, ""); // the editor reads and shows characters of the terminal's encoding
        rl_readline_name = "lparse"; // for "lparse:" lines in ~/.editrc
        rl_getc_function = read_key;
        rl_instream = stdin;
        rl_outstream = prompt_stream_; // read when the editor starts, in using_history()
        completion_names = setup.names;
        rl_attempted_completion_function = complete;
        rl_completion_entry_function = no_match;
        rl_basic_word_break_characters = kWordBreaks;
        rl_completion_append_character = '\0'; // a blank after a name would belong to it
        using_history();
        stifle_history(kHistoryLines);
        if (!history_file_.empty()) read_history(history_file_.c_str()); // none yet is fine
    }
    ~EditedInput() override {
        if (!history_file_.empty() && added_) save_history();
        clear_history();
        completion_names = nullptr;
    }
    EditedInput(const EditedInput &) = delete;
    EditedInput &operator=(const EditedInput &) = delete;

    ReadStatus read(std::string *line) override {
        if (interrupted != 0) return cancel(); // Ctrl-C while the last line was carried out
        // Ctrl-C comes in only while a key is awaited (read_key): the editor's
        // own handler, which it installs meanwhile, would cut short a write of
        // the screen anywhere else.
        const sigset_t interrupt = interrupt_set();
        sigset_t before;
        sigprocmask(SIG_BLOCK, &interrupt, &before);
        char *text = readline(prompt_.c_str());
        sigprocmask(SIG_SETMASK, &before, nullptr);
        if (text == nullptr) return interrupted != 0 ? cancel() : ReadStatus::END;
        line->assign(text);
        std::free(text);
        if (line->find_first_not_of(" \t") != std::string::npos && *line != last_) {
            add_history(line->c_str());
            last_ = *line;
            added_ = true;
        }
        return ReadStatus::LINE;
    }

private:
    // The editor does not echo ^C; show it and start a new line.
    ReadStatus cancel() {
        take_interrupt();
        std::fputs("^C\n", prompt_stream_);
        std::fflush(prompt_stream_);
        return ReadStatus::CANCELLED;
    }

    void save_history() {
        const int error = make_parent_directories(history_file_) ? write_history(history_file_.c_str()) : errno;
        if (error != 0)
            std::fprintf(stderr, "lparse: cannot save the history in %s: %s\n", history_file_.c_str(),
                         std::strerror(error));
    }

    std::string prompt_;
    FILE *prompt_stream_;
    std::string history_file_;
    std::string last_;
    bool added_ = false;
};
#endif

} // namespace

std::unique_ptr<LineInput> open_script_input(FILE *file) { return std::make_unique<PlainInput>(file, "", nullptr); }

std::unique_ptr<LineInput> open_terminal_input(const TerminalSetup &setup) {
#ifdef LPARSE_HAVE_LIBEDIT
    return std::make_unique<EditedInput>(setup);
#else
    return std::make_unique<PlainInput>(stdin, setup.prompt, setup.prompt_stream);
#endif
}

bool have_line_editor() {
#ifdef LPARSE_HAVE_LIBEDIT
    return true;
#else
    return false;
#endif
}

std::string default_history_file() {
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/lparse/history";
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.lparse_history";
    return "";
}

void catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // interrupted writes go on
    sigaction(SIGINT, &action, nullptr);
}

void stop_on_interrupt(Parser *parser) { stopped_on_interrupt.store(parser); }

void forget_on_interrupt(Parser *parser) { stopped_on_interrupt.compare_exchange_strong(parser, nullptr); }

bool interrupt_pending() { return interrupted != 0; }

bool take_interrupt() {
    const bool was = interrupted != 0;
    interrupted = 0;
    return was;
}

} // namespace lparse
