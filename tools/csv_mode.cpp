// csv_mode.cpp - streaming CSV evaluation in blocks of rows over one parsed tree.
#include "csv_mode.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <unistd.h>

#include "csv_reader.h"
#include "line_input.h"
#include "number_text.h"
#include "output.h"
#include "quote.h"

namespace lparse {

namespace {

// Rows read before they are evaluated and written: enough that
// parser_calc_bulk runs them as vector code where it can (it compiles that
// for a few thousand rows and more). Rows of many bytes end a block sooner,
// and a long row's memory is not kept for the next block.
constexpr size_t kBlockRows = size_t{1} << 18; // enough for a costly text to be spread over threads
constexpr size_t kBlockBytes = size_t{16} << 20;
constexpr size_t kKeptRowBytes = 4096;

// Bad rows (with --on-error=skip or nan), or column names that expressions
// cannot read, told one by one; the rest are counted.
constexpr size_t kShownRowWarnings = 5;

struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f != stdin) std::fclose(f);
    }
};

// One block of rows: the columns the expression reads, and the raw rows to
// write back, each with a result or a NaN already decided.
class Block {
public:
    Block(std::vector<const char *> names, size_t capacity)
        : names_(std::move(names)), columns_(names_.size(), std::vector<float>(capacity)), raws_(capacity),
          results_(capacity), evaluated_(capacity), capacity_(capacity) {}

    size_t size() const { return rows_; }
    bool full() const { return rows_ == capacity_ || bytes_ >= kBlockBytes; }
    float *cell(size_t slot) { return &columns_[slot][rows_]; }
    std::string *raw() { return &raws_[rows_]; }
    // Keeps the row in progress: evaluated, or written with the result nan.
    void commit(bool evaluate) {
        evaluated_[rows_] = evaluate;
        if (!evaluate)
            for (std::vector<float> &column : columns_) column[rows_] = 0.0f;
        bytes_ += raws_[rows_].size();
        ++rows_;
    }

    // Evaluates the committed rows and writes them to standard output, then
    // empties the block. False when output has stopped.
    bool flush(Parser *parser, const char *expr) {
        if (rows_ == 0) return output_ok();
        evaluate(parser, expr);
        if (interrupt_pending()) { // Ctrl-C: the block's rows were not all computed
            rows_ = 0;
            bytes_ = 0;
            return false;
        }
        text_.clear();
        for (size_t r = 0; r < rows_; ++r) {
            text_ += raws_[r];
            text_ += ',';
            text_ += evaluated_[r] ? format_float(results_[r]) : "nan";
            text_ += '\n';
        }
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        for (size_t r = 0; r <= rows_ && r < capacity_; ++r) // with the row in progress
            if (raws_[r].capacity() > kKeptRowBytes) std::string().swap(raws_[r]);
        if (text_.capacity() > kBlockBytes) std::string().swap(text_);
        rows_ = 0;
        bytes_ = 0;
        return output_ok();
    }

private:
    void evaluate(Parser *parser, const char *expr) {
        std::vector<const float *> columns(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i) columns[i] = columns_[i].data();
        parser_calc_bulk(parser, expr, names_.data(), columns.data(), names_.size(), rows_, results_.data());
    }

    std::vector<const char *> names_; // the columns read, in definition order
    std::vector<std::vector<float>> columns_;
    std::vector<std::string> raws_;
    std::vector<float> results_;
    std::vector<char> evaluated_; // false: the row is bad and its result is nan
    std::string text_;            // the rows written, kept to be filled again
    size_t capacity_;
    size_t rows_ = 0;
    size_t bytes_ = 0; // of the rows' texts
};

void complain(const std::string &message) { std::fprintf(stderr, "lparse: %s\n", message.c_str()); }

// The header's first problem: two columns of one name, or a column named
// like the one the output adds.
std::string header_problem(const std::vector<std::string> &header) {
    // Each name's first column, in one pass: a header of 200,000 names is
    // checked as fast as it is read.
    std::unordered_map<std::string_view, size_t> first;
    first.reserve(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        if (header[c] == "result")
            return "column " + std::to_string(c + 1) + " is named 'result', the name of the column lparse adds; "
                                                       "rename it";
        const auto [seen, added] = first.emplace(header[c], c);
        if (!added)
            return "columns " + std::to_string(seen->second + 1) + " and " + std::to_string(c + 1) +
                   " are both named " + quoted(header[c]);
    }
    return "";
}

// Which columns EXPR reads: the variables its names find, as the
// evaluation itself looks them up. The names are distinct (header_problem).
std::vector<bool> columns_read(const Calculator &calculator, const std::string &expr,
                               const std::vector<std::string> &header) {
    std::unordered_map<std::string_view, size_t> column_of;
    column_of.reserve(header.size());
    for (size_t c = 0; c < header.size(); ++c) column_of.emplace(header[c], c);
    std::vector<bool> read(header.size(), false);
    for (const lib_parse::Name &name : calculator.names(expr)) {
        if (name.kind != PARSER_NAME_VARIABLE) continue;
        const auto column = column_of.find(name.name);
        if (column != column_of.end()) read[column->second] = true;
    }
    return read;
}

// Defines every column as a variable, longest names first (ORDER), so that
// an exact name is newer than any longer name that begins with it and
// prefix lookup finds the exact one; warns of names no text can read.
void define_columns(Calculator *calculator, const std::vector<std::string> &header, const std::vector<size_t> &order,
                    const CsvStyle &style) {
    size_t bad_names = 0;
    for (const size_t column : order) {
        const std::string warning = calculator->set_var(header[column], 0.0f);
        if (!warning.empty() && ++bad_names <= kShownRowWarnings && !style.quiet)
            complain("column " + std::to_string(column + 1) + ": " + warning);
    }
    if (bad_names > kShownRowWarnings && !style.quiet)
        complain("warning: " + std::to_string(bad_names - kShownRowWarnings) + " more columns have names no "
                 "expression can read, " + std::to_string(bad_names) + " in all");
}

// Reads one row's fields into the block's cells (only the columns with a
// slot); says what is wrong with the row, or nothing.
std::string read_row(const std::vector<std::string> &fields, const std::vector<std::string> &header,
                     const std::vector<size_t> &slot, size_t row, Block *block) {
    if (fields.size() != header.size())
        return "row " + std::to_string(row) + ": " + std::to_string(fields.size()) +
               (fields.size() == 1 ? " field" : " fields") + ", but the header has " + std::to_string(header.size());
    for (size_t c = 0; c < fields.size(); ++c) {
        if (slot[c] == SIZE_MAX) continue;
        const auto value = parse_float(fields[c]);
        if (!value)
            return "row " + std::to_string(row) + ", column " + std::to_string(c + 1) + " (" + quoted(header[c]) +
                   "): " + quoted(fields[c]) + " is not a number";
        *block->cell(slot[c]) = *value;
    }
    return "";
}

} // namespace

int run_csv(Calculator *calculator, const std::string &expr, const std::string &path, const CsvStyle &style) {
    std::unique_ptr<std::FILE, FileCloser> file(path == "-" ? stdin : std::fopen(path.c_str(), "rb"));
    if (!file) {
        complain("cannot open " + quoted(path) + ": " + std::strerror(errno));
        return 1;
    }
    CsvReader reader(file.get());
    const auto read_failure = [&] { return "cannot read " + quoted(path) + ": " + std::strerror(reader.read_error()); };
    std::vector<std::string> header;
    std::string raw;
    if (!reader.next(&header, &raw)) {
        complain(reader.read_error() != 0 ? read_failure()
                 : reader.error().empty() ? quoted(path) + " is empty; its first row must name the variables"
                                          : "row 1: " + reader.error());
        return 1;
    }
    for (std::string &name : header) name = std::string(trim(name));
    if (const std::string problem = header_problem(header); !problem.empty()) {
        complain(problem);
        return 1;
    }

    // Longest names first (see define_columns).
    std::vector<size_t> order(header.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return header[a].size() > header[b].size(); });
    define_columns(calculator, header, order, style);
    int status = 0;
    // A name no column gives would be 0 (or NaN) in every row: refused
    // before a row is written.
    if (const std::vector<std::string> missing = calculator->names_without_values(expr); !missing.empty()) {
        for (const std::string &line : missing) complain(line);
        return 1;
    }
    const Evaluation prepared = calculator->prepare(expr);
    for (const std::string &line : prepared.errors) complain(line);
    if (!style.quiet)
        for (const std::string &line : prepared.warnings) complain(line);
    if (!prepared.errors.empty()) status = 1;

    // Only the columns the expression reads are numbers, each in its slot.
    const std::vector<bool> read = columns_read(*calculator, expr, header);
    std::vector<const char *> names;
    std::vector<size_t> slot(header.size(), SIZE_MAX);
    for (const size_t column : order) {
        if (!read[column]) continue;
        slot[column] = names.size();
        names.push_back(header[column].c_str());
    }
    // A person watching a terminal sees each row as soon as it is done.
    Block block(std::move(names), isatty(STDOUT_FILENO) ? 1 : kBlockRows);
    Parser *parser = calculator->handle();
    const auto flush = [&] { return block.flush(parser, expr.c_str()) && flush_output(); };

    std::printf("%s,result\n", raw.c_str());
    if (!output_ok()) return status;
    // Warnings about bad rows: the first few, then a count at the end.
    size_t bad_rows = 0;
    const char *const bad_row_fate = style.on_error == OnError::SKIP ? "left out" : "given the result nan";
    const auto count_hidden_rows = [&] {
        if (style.quiet || bad_rows <= kShownRowWarnings) return;
        complain("warning: " + std::to_string(bad_rows - kShownRowWarnings) + " more bad rows were " + bad_row_fate +
                 ", " + std::to_string(bad_rows) + " in all");
    };
    std::vector<std::string> fields;
    for (size_t row = 2;; ++row) {
        if (interrupt_pending()) return status; // Ctrl-C: the rows computed are written
        // Before waiting for more input, write what is done, so that a slow
        // pipe gets each row's result when the row has come in.
        if (reader.drained() && !flush()) return status;
        if (!reader.next(&fields, block.raw())) {
            if (!flush()) return status;
            count_hidden_rows();
            if (reader.read_error() != 0) {
                complain(read_failure());
                return 1;
            }
            if (reader.error().empty()) break;
            complain("row " + std::to_string(row) + ": " + reader.error());
            return 1;
        }
        if (block.raw()->empty()) continue; // a blank line
        const std::string problem = read_row(fields, header, slot, row, &block);
        if (problem.empty()) {
            block.commit(true);
        } else if (style.on_error == OnError::STOP) {
            if (!flush()) return status;
            complain(problem);
            return 1;
        } else {
            if (style.on_error == OnError::WRITE_NAN) block.commit(false);
            if (++bad_rows <= kShownRowWarnings && !style.quiet) {
                // Keep the warnings in step with the rows written before them.
                if (!flush()) return status;
                complain("warning: " + problem + "; the row is " + bad_row_fate);
            }
        }
        if (block.full() && !flush()) return status;
    }
    return status;
}

} // namespace lparse
