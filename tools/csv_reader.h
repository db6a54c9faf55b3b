// csv_reader.h - streaming reader of comma-separated records: quoted fields, CRLF, constant memory.
#ifndef LPARSE_CSV_READER_H
#define LPARSE_CSV_READER_H

#include <cstdio>
#include <string>
#include <vector>

namespace lparse {

class CsvReader {
public:
    // Reads FILE's descriptor directly, taking whatever bytes have arrived,
    // so a slow pipe yields each record as soon as it is complete. FILE stays
    // the caller's. A UTF-8 byte-order mark at the start is skipped.
    explicit CsvReader(std::FILE *file) : file_(file) {}

    // The next record: its fields (quotes removed, "" read as ") and its raw
    // text without the line ending. False at the end of input, or on an
    // error, which error() then describes.
    bool next(std::vector<std::string> *fields, std::string *raw);

    // Non-empty after a record could not be read because of its text.
    const std::string &error() const { return error_; }

    // The errno of a failed read, or 0: the input ended there.
    int read_error() const { return read_error_; }

    // True when no input is buffered, so the next record may have to wait.
    bool drained() const { return begin_ == end_; }

private:
    int get(); // next byte or EOF
    int peek();
    bool fill();

    std::FILE *file_;
    char buffer_[1 << 16];
    size_t begin_ = 0;
    size_t end_ = 0;
    bool started_ = false; // the first bytes were read, and a byte-order mark skipped
    bool ended_ = false;   // end of input or a read error
    int read_error_ = 0;
    std::string error_;
};

} // namespace lparse

#endif // LPARSE_CSV_READER_H
