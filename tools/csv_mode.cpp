// csv_mode.cpp - streaming CSV evaluation in blocks of rows over one parsed tree.
#include "csv_mode.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "csv_reader.h"
#include "number_text.h"

namespace lparse {

namespace {

// Rows read before they are evaluated and written: enough to amortise the
// per-call cost, small enough to keep memory constant.
constexpr size_t kBlockRows = 256;

struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f != stdin) std::fclose(f);
    }
};

// One block of rows: each variable's column, and the raw rows to write back.
class Block {
public:
    Block(const std::vector<std::string> &header, const std::vector<size_t> &order)
        : names_(order.size()), columns_(order.size(), std::vector<float>(kBlockRows)), raws_(kBlockRows),
          results_(kBlockRows), order_(order) {
        for (size_t i = 0; i < order.size(); ++i) names_[i] = header[order[i]].c_str();
    }

    size_t size() const { return rows_; }
    bool full() const { return rows_ == kBlockRows; }
    float *cell(size_t column) { return &columns_[column][rows_]; }
    std::string *raw() { return &raws_[rows_]; }
    void commit() { ++rows_; }

    // Evaluates the committed rows and writes them to OUT, then empties the block.
    void flush(Parser *parser, const char *expr, std::FILE *out) {
        evaluate(parser, expr);
        std::string text;
        char number[64];
        for (size_t r = 0; r < rows_; ++r) {
            text += raws_[r];
            text += ',';
            if (std::isnan(results_[r])) {
                text += "nan";
            } else {
                const auto end = std::to_chars(number, number + sizeof number, results_[r]).ptr;
                text.append(number, end);
            }
            text += '\n';
        }
        std::fwrite(text.data(), 1, text.size(), out);
        rows_ = 0;
    }

    // Where column (in header order) C lands in the block.
    size_t slot_of(size_t header_column) const {
        return static_cast<size_t>(std::find(order_.begin(), order_.end(), header_column) - order_.begin());
    }

private:
    void evaluate(Parser *parser, const char *expr) {
        std::vector<const float *> columns(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i) columns[i] = columns_[i].data();
        parser_calc_bulk(parser, expr, names_.data(), columns.data(), names_.size(), rows_, results_.data());
    }

    std::vector<const char *> names_; // in definition order
    std::vector<std::vector<float>> columns_;
    std::vector<std::string> raws_;
    std::vector<float> results_;
    std::vector<size_t> order_; // header column of each slot
    size_t rows_ = 0;
};

void complain(const std::string &message) { std::fprintf(stderr, "lparse: %s\n", message.c_str()); }

} // namespace

int run_csv(Calculator *calculator, const std::string &expr, const std::string &path, bool quiet) {
    std::unique_ptr<std::FILE, FileCloser> file(path == "-" ? stdin : std::fopen(path.c_str(), "rb"));
    if (!file) {
        complain("cannot open '" + path + "': " + std::strerror(errno));
        return 1;
    }
    CsvReader reader(file.get());
    std::vector<std::string> header;
    std::string raw;
    if (!reader.next(&header, &raw)) {
        complain(reader.error().empty() ? "'" + path + "' is empty; its first row must name the variables"
                                        : "row 1: " + reader.error());
        return 1;
    }
    for (std::string &name : header) name = std::string(trim(name));

    // Longest names first, so that an exact name is newer than any longer
    // name that begins with it, and prefix lookup finds the exact one.
    std::vector<size_t> order(header.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return header[a].size() > header[b].size(); });
    int status = 0;
    for (const size_t column : order) {
        const std::string warning = calculator->set_var(header[column], 0.0f);
        if (!warning.empty() && !quiet) complain("column " + std::to_string(column + 1) + ": " + warning);
    }
    const Evaluation prepared = calculator->prepare(expr);
    for (const std::string &line : prepared.errors) complain(line);
    if (!quiet)
        for (const std::string &line : prepared.warnings) complain(line);
    if (!prepared.errors.empty()) status = 1;

    std::printf("%s,result\n", raw.c_str());
    Block block(header, order);
    std::vector<size_t> slot(header.size());
    for (size_t c = 0; c < header.size(); ++c) slot[c] = block.slot_of(c);
    std::vector<std::string> fields;
    for (size_t row = 2;; ++row) {
        if (!reader.next(&fields, block.raw())) {
            if (reader.error().empty()) break;
            block.flush(calculator->handle(), expr.c_str(), stdout);
            complain("row " + std::to_string(row) + ": " + reader.error());
            return 1;
        }
        if (block.raw()->empty()) continue; // a blank line
        std::string problem;
        if (fields.size() != header.size()) {
            problem = "row " + std::to_string(row) + ": " + std::to_string(fields.size()) + " fields, but the header has " +
                      std::to_string(header.size());
        }
        for (size_t c = 0; problem.empty() && c < fields.size(); ++c) {
            const auto value = parse_float(fields[c]);
            if (value)
                *block.cell(slot[c]) = *value;
            else
                problem = "row " + std::to_string(row) + ", column " + std::to_string(c + 1) + " (" + header[c] +
                          "): '" + fields[c] + "' is not a number";
        }
        if (!problem.empty()) {
            block.flush(calculator->handle(), expr.c_str(), stdout);
            std::fflush(stdout);
            complain(problem);
            return 1;
        }
        block.commit();
        if (block.full()) block.flush(calculator->handle(), expr.c_str(), stdout);
    }
    block.flush(calculator->handle(), expr.c_str(), stdout);
    return status;
}

} // namespace lparse
