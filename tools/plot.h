// plot.h - a curve drawn in the terminal with Unicode braille dots, axes labelled.
#ifndef LPARSE_PLOT_H
#define LPARSE_PLOT_H

#include <string>
#include <vector>

namespace lparse {

struct PlotSize {
    int columns = 72; // character cells of the drawing area
    int rows = 16;
};

// Draws the points (xs[i], ys[i]), xs ascending, joining neighbours; points
// whose y is not finite break the curve. TITLE heads the picture and X_NAME
// labels the horizontal axis. Returns "" when no y is finite.
std::string plot_curve(const std::vector<double> &xs, const std::vector<float> &ys, const std::string &title,
                       const std::string &x_name, PlotSize size);

// The drawing area that fits the terminal on standard output (80 columns
// when it is not a terminal).
PlotSize terminal_plot_size();

} // namespace lparse

#endif // LPARSE_PLOT_H
