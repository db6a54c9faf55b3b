// csv_reader.cpp - a byte-at-a-time record reader over whatever the input has delivered.
#include "csv_reader.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace lparse {

namespace {

// Whatever bytes have arrived, up to SIZE; 0 at the end of input, -1 on an error.
ssize_t read_some(std::FILE *file, char *into, size_t size) {
    ssize_t n = 0;
    do {
        n = read(fileno(file), into, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

} // namespace

bool CsvReader::fill() {
    if (ended_) return false;
    ssize_t n = read_some(file_, buffer_, sizeof buffer_);
    begin_ = end_ = 0;
    if (n > 0) end_ = static_cast<size_t>(n);
    // A byte-order mark may arrive split over reads: read on while what came
    // so far is the start of one.
    while (!started_ && n > 0 && end_ < 3 && std::memcmp(buffer_, kByteOrderMark, end_) == 0) {
        n = read_some(file_, buffer_ + end_, sizeof buffer_ - end_);
        if (n > 0) end_ += static_cast<size_t>(n);
    }
    if (!started_ && end_ >= 3 && std::memcmp(buffer_, kByteOrderMark, 3) == 0) begin_ = 3;
    started_ = true;
    if (n < 0) read_error_ = errno;
    if (n <= 0 && begin_ == end_) ended_ = true;
    return !ended_;
}

int CsvReader::peek() {
    while (begin_ == end_)
        if (!fill()) return EOF;
    return static_cast<unsigned char>(buffer_[begin_]);
}

int CsvReader::get() {
    const int c = peek();
    if (c != EOF) ++begin_;
    return c;
}

bool CsvReader::next(std::vector<std::string> *fields, std::string *raw) {
    fields->clear();
    raw->clear();
    if (peek() == EOF) return false;
    fields->emplace_back();
    bool quoted = false;    // inside a quoted field
    bool field_start = true; // nothing of the current field read yet
    for (;;) {
        const int c = get();
        if (c == EOF) {
            if (quoted && read_error_ == 0) {
                error_ = "a quoted field is not closed before the end of the input";
                return false;
            }
            return error_.empty() && read_error_ == 0;
        }
        if (quoted) {
            raw->push_back(static_cast<char>(c));
            if (c != '"') {
                fields->back().push_back(static_cast<char>(c));
            } else if (peek() == '"') { // "" stands for one quote
                raw->push_back(static_cast<char>(get()));
                fields->back().push_back('"');
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '\n') return true;
        if (c == '\r') {
            if (peek() == '\n') get();
            return true;
        }
        raw->push_back(static_cast<char>(c));
        if (c == ',') {
            fields->emplace_back();
            field_start = true;
            continue;
        }
        if (c == '"' && field_start) {
            quoted = true;
        } else {
            fields->back().push_back(static_cast<char>(c));
        }
        field_start = false;
    }
}

} // namespace lparse
