// csv_reader.cpp - a byte-at-a-time record reader over a buffered file.
#include "csv_reader.h"

namespace lparse {

int CsvReader::peek() {
    if (begin_ == end_) {
        end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        begin_ = 0;
        if (end_ == 0) return EOF;
    }
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
            if (quoted) {
                error_ = "a quoted field is not closed before the end of the input";
                return false;
            }
            return true;
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
