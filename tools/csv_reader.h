// csv_reader.h - streaming reader of comma-separated records: quoted fields, CRLF, constant memory.
#ifndef LPARSE_CSV_READER_H
#define LPARSE_CSV_READER_H

#include <cstdio>
#include <string>
#include <vector>

namespace lparse {

class CsvReader {
public:
    // Reads FILE, which stays the caller's.
    explicit CsvReader(std::FILE *file) : file_(file) {}

    // The next record: its fields (quotes removed, "" read as ") and its raw
    // text without the line ending. False at the end of input, or on an
    // error, which error() then describes.
    bool next(std::vector<std::string> *fields, std::string *raw);

    // Non-empty after a record could not be read.
    const std::string &error() const { return error_; }

private:
    int get(); // next byte or EOF
    int peek();

    std::FILE *file_;
    char buffer_[1 << 16];
    size_t begin_ = 0;
    size_t end_ = 0;
    std::string error_;
};

} // namespace lparse

#endif // LPARSE_CSV_READER_H
