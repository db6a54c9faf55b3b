// plot.cpp - a canvas of braille dots or ASCII cells, lines between samples, and the labelled frame around it.
#include "plot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

#include "number_text.h"

namespace lparse {

namespace {

// A grid of dots: 2x4 per character cell in braille, one per cell in ASCII.
class Canvas {
public:
    Canvas(int columns, int rows, bool ascii)
        : columns_(columns), rows_(rows), ascii_(ascii),
          cells_(static_cast<size_t>(columns) * static_cast<size_t>(rows)) {}

    int width() const { return columns_ * (ascii_ ? 1 : 2); }
    int height() const { return rows_ * (ascii_ ? 1 : 4); }

    void dot(int x, int y) { mark(x, y, kCurve); }

    // The axes through zero: dotted in braille, so that they do not read as
    // part of the curve; '-' and '|' in ASCII.
    void axis_row(int y) {
        for (int x = 0; x < width(); x += ascii_ ? 1 : 2) mark(x, y, kRow);
    }
    void axis_column(int x) {
        for (int y = 0; y < height(); y += ascii_ ? 1 : 2) mark(x, y, kColumn);
    }

    void line(int x0, int y0, int x1, int y1) {
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            dot(x0, y0);
            if (x0 == x1 && y0 == y1) return;
            const int e2 = 2 * err;
            if (e2 >= dy) err += dy, x0 += sx;
            if (e2 <= dx) err += dx, y0 += sy;
        }
    }

    // One row of cells as text; empty cells are blanks.
    std::string row(int r) const {
        std::string out;
        for (int c = 0; c < columns_; ++c) {
            const unsigned bits = cells_[static_cast<size_t>(r * columns_ + c)];
            if (ascii_) {
                static constexpr char kShown[8] = {' ', '*', '-', '*', '|', '*', '+', '*'};
                out += kShown[bits & 7];
                continue;
            }
            if (bits == 0) {
                out += ' ';
                continue;
            }
            const unsigned code = 0x2800 + bits;
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return out;
    }

private:
    // ASCII cells hold which of these they show.
    static constexpr unsigned char kCurve = 1, kRow = 2, kColumn = 4;

    void mark(int x, int y, unsigned char what) {
        if (x < 0 || y < 0 || x >= width() || y >= height()) return;
        unsigned char &cell = cells_[static_cast<size_t>(ascii_ ? y : y / 4) * static_cast<size_t>(columns_) +
                                     static_cast<size_t>(ascii_ ? x : x / 2)];
        if (ascii_) {
            cell |= what;
            return;
        }
        // Braille dot bits: left column 1,2,3,7 and right column 4,5,6,8, top to bottom.
        static constexpr unsigned char kBits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};
        cell |= kBits[x % 2][y % 4];
    }

    int columns_;
    int rows_;
    bool ascii_;
    std::vector<unsigned char> cells_;
};

// Four significant digits are enough to read an axis.
std::string label(double value) { return format_rounded(value, 4); }

// For each step from sample i to i+1, whether it jumps against the run of the
// curve on both sides and is larger than the steps beside it: the step across
// a pole (or the break of a saw tooth).
std::vector<bool> turning_jumps(const std::vector<float> &ys, size_t n) {
    std::vector<bool> jumps(n, false);
    const auto step = [&](size_t i) { // ys[i+1] - ys[i], or NaN
        return i + 1 < n ? static_cast<double>(ys[i + 1]) - ys[i] : NAN;
    };
    for (size_t i = 0; i + 1 < n; ++i) {
        const double jump = step(i);
        if (!std::isfinite(jump) || jump == 0.0) continue;
        const double before = i > 0 ? step(i - 1) : NAN, after = step(i + 1);
        const auto against = [&](double other) { return other * jump < 0.0 && std::fabs(jump) > std::fabs(other); };
        const bool has_before = std::isfinite(before), has_after = std::isfinite(after);
        jumps[i] = (has_before || has_after) && (!has_before || against(before)) && (!has_after || against(after));
    }
    return jumps;
}

} // namespace

int terminal_width() {
    if (const char *columns = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long width = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && width > 0) return static_cast<int>(std::min(width, 10000L));
    }
    winsize ws{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

bool locale_is_utf8() {
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string lower(value);
        for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
    }
    return false;
}

namespace {

// The drawing columns left for a picture of SIZE with a label margin of MARGIN:
// the x labels line, the longest, is MARGIN+2+columns, two blanks and X_NAME.
int columns_for(const PlotSize &size, size_t margin, const std::string &x_name) {
    const long room =
        static_cast<long>(size.width) - 1 - static_cast<long>(margin) - 4 - static_cast<long>(x_name.size());
    return static_cast<int>(std::clamp(room, 10L, 1000L));
}

} // namespace

int plot_dot_columns(const PlotSize &size, const std::string &x_name) {
    return columns_for(size, 6, x_name) * (size.ascii ? 1 : 2);
}

std::string plot_curve(const std::vector<double> &xs, const std::vector<float> &ys, const std::string &title,
                       const std::string &x_name, PlotSize size) {
    const size_t n = std::min(xs.size(), ys.size());
    const std::vector<bool> jumps = turning_jumps(ys, n);
    // The y range leaves out the samples beside a pole, unless nothing else is finite.
    double low = INFINITY, high = -INFINITY;
    size_t finite = 0;
    for (size_t i = 0; i < n; ++i)
        if (std::isfinite(ys[i])) {
            ++finite;
            if (!jumps[i] && !(i > 0 && jumps[i - 1]))
                low = std::min(low, double{ys[i]}), high = std::max(high, double{ys[i]});
        }
    if (finite == 0) return "";
    if (!(low <= high))
        for (size_t i = 0; i < n; ++i)
            if (std::isfinite(ys[i])) low = std::min(low, double{ys[i]}), high = std::max(high, double{ys[i]});
    if (low == high) { // a flat curve in the middle
        const double pad = std::max(1.0, std::fabs(low) * 1e-3);
        low -= pad, high += pad;
    }
    const double left = xs.front(), right = xs[n - 1];
    const double span = right > left ? right - left : 1.0;
    const bool zero_row = low <= 0.0 && 0.0 <= high;

    // Labels: the top and bottom of the range, and zero where it lies inside.
    std::vector<std::string> labels(static_cast<size_t>(size.rows));
    labels.front() = label(high);
    labels.back() = label(low);
    size_t margin = 0;
    for (const std::string &l : labels) margin = std::max(margin, l.size());
    const int columns = columns_for(size, margin, x_name);

    Canvas canvas(columns, size.rows, size.ascii);
    const auto fx = [&](double x) { return (x - left) / span * (canvas.width() - 1); };
    const auto fy = [&](double y) { return (high - y) / (high - low) * (canvas.height() - 1); };
    const auto at = [](double v) { return static_cast<int>(std::lround(v)); };

    if (zero_row) canvas.axis_row(at(fy(0.0)));
    if (left < 0.0 && 0.0 < right) canvas.axis_column(at(fx(0.0)));
    if (zero_row) {
        const auto r = static_cast<size_t>(at(fy(0.0)) / (size.ascii ? 1 : 4));
        if (r > 0 && r + 1 < labels.size()) labels[r] = "0";
    }

    // Segments are clipped to the drawing area: samples beyond it (beside a
    // pole) still give the curve its direction off the edge.
    const double top = -0.5, bottom = canvas.height() - 0.5;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(ys[i])) continue;
        const double x0 = fx(xs[i]), y0 = fy(ys[i]);
        const bool joined = i + 1 < n && std::isfinite(ys[i + 1]) &&
                            !(jumps[i] && std::fabs(double{ys[i + 1]} - ys[i]) > high - low);
        if (!joined) {
            if (y0 >= top && y0 <= bottom) canvas.dot(at(x0), at(y0));
            continue;
        }
        const double x1 = fx(xs[i + 1]), y1 = fy(ys[i + 1]);
        double t0 = 0.0, t1 = 1.0;
        if (y1 != y0) {
            const double a = (top - y0) / (y1 - y0), b = (bottom - y0) / (y1 - y0);
            t0 = std::max(t0, std::min(a, b));
            t1 = std::min(t1, std::max(a, b));
        } else if (y0 < top || y0 > bottom) {
            continue;
        }
        if (t0 > t1) continue;
        // Clamped as well: far-off samples lose precision in the arithmetic.
        const auto x_at = [&](double t) { return at(std::clamp(x0 + t * (x1 - x0), 0.0, canvas.width() - 1.0)); };
        const auto y_at = [&](double t) { return at(std::clamp(y0 + t * (y1 - y0), 0.0, canvas.height() - 1.0)); };
        canvas.line(x_at(t0), y_at(t0), x_at(t1), y_at(t1));
    }

    const char *tick = size.ascii ? " +" : " ┤";
    const char *side = size.ascii ? " |" : " │";
    std::string out = title + "\n";
    for (int r = 0; r < size.rows; ++r) {
        const std::string &l = labels[static_cast<size_t>(r)];
        out += std::string(margin - l.size(), ' ') + l + (l.empty() ? side : tick) + canvas.row(r) + "\n";
    }
    out += std::string(margin + 1, ' ') + (size.ascii ? "+" : "└");
    for (int c = 0; c < columns; ++c) out += size.ascii ? "-" : "─";
    out += "\n";

    // X labels under the axis: the two ends, and zero where there is room.
    std::string under(margin + 2 + static_cast<size_t>(columns), ' ');
    const auto put = [&](size_t where, const std::string &text) {
        if (text.size() > under.size()) return;
        if (where + text.size() > under.size()) where = under.size() - text.size();
        for (size_t i = 0; i < text.size(); ++i)
            if (under[where + i] != ' ' || (where + i > 0 && under[where + i - 1] != ' ')) return;
        under.replace(where, text.size(), text);
    };
    put(margin + 2, label(left));
    const std::string right_label = label(right);
    put(under.size() - right_label.size(), right_label);
    if (left < 0.0 && 0.0 < right)
        put(margin + 2 + static_cast<size_t>(at(fx(0.0)) / (size.ascii ? 1 : 2)), "0");
    out += under + "  " + x_name + "\n";
    if (finite < n)
        out += "note: " + std::to_string(n - finite) + " of " + std::to_string(n) + " points " +
               (n - finite == 1 ? "has" : "have") + " no finite value (nan or inf) and " +
               (n - finite == 1 ? "is" : "are") + " not drawn\n";
    return out;
}

} // namespace lparse
