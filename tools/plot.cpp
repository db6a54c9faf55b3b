// plot.cpp - braille canvas, line drawing between samples, and the labelled frame around it.
#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <unistd.h>

namespace lparse {

namespace {

// A grid of 2x4 dots per character cell.
class Canvas {
public:
    Canvas(int columns, int rows) : columns_(columns), rows_(rows), cells_(static_cast<size_t>(columns * rows)) {}

    int width() const { return columns_ * 2; }
    int height() const { return rows_ * 4; }

    void dot(int x, int y) {
        if (x < 0 || y < 0 || x >= width() || y >= height()) return;
        // Braille dot bits: left column 1,2,3,7 and right column 4,5,6,8, top to bottom.
        static constexpr unsigned char kBits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};
        cells_[static_cast<size_t>((y / 4) * columns_ + x / 2)] |= kBits[x % 2][y % 4];
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

    // One row of cells as UTF-8; empty cells are blanks.
    std::string row(int r) const {
        std::string out;
        for (int c = 0; c < columns_; ++c) {
            const unsigned bits = cells_[static_cast<size_t>(r * columns_ + c)];
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
    int columns_;
    int rows_;
    std::vector<unsigned char> cells_;
};

std::string label(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

} // namespace

PlotSize terminal_plot_size() {
    int width = 80;
    winsize ws{};
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) width = ws.ws_col;
    PlotSize size;
    size.columns = std::clamp(width - 14, 20, 160); // room for the labels on the left
    return size;
}

std::string plot_curve(const std::vector<double> &xs, const std::vector<float> &ys, const std::string &title,
                       const std::string &x_name, PlotSize size) {
    double low = INFINITY, high = -INFINITY;
    for (const float y : ys)
        if (std::isfinite(y)) low = std::min(low, double{y}), high = std::max(high, double{y});
    if (!(low <= high) || xs.empty()) return "";
    if (low == high) low -= 1.0, high += 1.0; // a flat curve in the middle
    const double left = xs.front(), right = xs.back();
    const double span = right > left ? right - left : 1.0;

    Canvas canvas(size.columns, size.rows);
    const auto to_x = [&](double x) { return static_cast<int>(std::lround((x - left) / span * (canvas.width() - 1))); };
    const auto to_y = [&](double y) { return static_cast<int>(std::lround((high - y) / (high - low) * (canvas.height() - 1))); };

    // Axes through zero, dotted so that they do not read as part of the curve.
    const bool zero_row = low <= 0.0 && 0.0 <= high;
    if (zero_row)
        for (int x = 0; x < canvas.width(); x += 2) canvas.dot(x, to_y(0.0));
    if (left < 0.0 && 0.0 < right)
        for (int y = 0; y < canvas.height(); y += 2) canvas.dot(to_x(0.0), y);

    bool joined = false;
    int px = 0, py = 0;
    for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
        if (!std::isfinite(ys[i])) {
            joined = false;
            continue;
        }
        const int x = to_x(xs[i]), y = to_y(ys[i]);
        if (joined)
            canvas.line(px, py, x, y);
        else
            canvas.dot(x, y);
        px = x, py = y, joined = true;
    }

    // Labels: the top and bottom of the range, and zero where it lies inside.
    std::vector<std::string> labels(static_cast<size_t>(size.rows));
    labels.front() = label(high);
    labels.back() = label(low);
    if (zero_row) {
        const auto r = static_cast<size_t>(to_y(0.0) / 4);
        if (r > 0 && r + 1 < labels.size()) labels[r] = "0";
    }
    size_t margin = 0;
    for (const std::string &l : labels) margin = std::max(margin, l.size());

    std::string out = title + "\n";
    for (int r = 0; r < size.rows; ++r) {
        const std::string &l = labels[static_cast<size_t>(r)];
        out += std::string(margin - l.size(), ' ') + l + (l.empty() ? " │" : " ┤") + canvas.row(r) + "\n";
    }
    out += std::string(margin + 1, ' ') + "└";
    for (int c = 0; c < size.columns; ++c) out += "─";
    out += "\n";

    // X labels under the axis: the two ends, and zero where there is room.
    std::string under(margin + 2 + static_cast<size_t>(size.columns), ' ');
    const auto put = [&](size_t at, const std::string &text) {
        if (at + text.size() > under.size()) at = under.size() - text.size();
        for (size_t i = 0; i < text.size(); ++i)
            if (under[at + i] != ' ' || (at + i > 0 && under[at + i - 1] != ' ')) return;
        under.replace(at, text.size(), text);
    };
    put(margin + 2, label(left));
    const std::string right_label = label(right);
    put(under.size() - right_label.size(), right_label);
    if (left < 0.0 && 0.0 < right) put(margin + 2 + static_cast<size_t>(to_x(0.0) / 2), "0");
    out += under + "  " + x_name + "\n";
    return out;
}

} // namespace lparse
