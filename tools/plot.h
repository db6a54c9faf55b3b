// plot.h - a curve drawn in the terminal with Unicode braille dots or ASCII stars, axes labelled.
#ifndef LPARSE_PLOT_H
#define LPARSE_PLOT_H

#include <string>
#include <vector>

namespace lparse {

struct PlotSize {
    int width = 80; // characters a line may take, labels included
    int rows = 16;  // rows of the drawing area
    bool ascii = false;
};

// Draws the points (xs[i], ys[i]), xs ascending, joining neighbours. Points
// whose y is not finite break the curve and are counted in a note under it;
// a jump against the run of the curve on both sides that is larger than the
// plot's height (a pole, as tan has) is left open, and its ends do not widen
// the y range. TITLE heads the picture and X_NAME labels the horizontal axis.
// Returns "" when no y is finite.
std::string plot_curve(const std::vector<double> &xs, const std::vector<float> &ys, const std::string &title,
                       const std::string &x_name, PlotSize size);

// Dot columns a picture of SIZE has, roughly: one sample each is enough.
int plot_dot_columns(const PlotSize &size, const std::string &x_name);

// The width of the terminal: COLUMNS when it holds a number, else the
// terminal on standard output, else 80.
int terminal_width();

// Whether the locale (LC_ALL, else LC_CTYPE, else LANG) uses UTF-8.
bool locale_is_utf8();

} // namespace lparse

#endif // LPARSE_PLOT_H
