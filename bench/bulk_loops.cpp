// bulk_loops.cpp - bulk_loops.h's loops; built twice, with BULK_LOOPS the namespace (o2, o3) of its level.
#include "bulk_loops.h"

#include <cmath>

namespace bench {

namespace BULK_LOOPS {

namespace {

void short_f(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = 2.0f * (x[i] + 1.0f) - cosf(y[i]);
}
void trig_f(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = sinf(x[i]) * cosf(y[i]) + atanf(x[i] / y[i]);
}
void explog_f(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = expf(x[i] / 10.0f) - log10f(y[i] + 2.0f);
}
void hypot_f(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = sqrtf(x[i] * x[i] + y[i] * y[i]);
}
void select_f(const float *x, const float *, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = x[i] > 0.0f ? logf(x[i]) : 0.0f;
}

// Each function in double, rounded once: (float)f((double)v).
float d(double v) { return static_cast<float>(v); }
void short_d(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = 2.0f * (x[i] + 1.0f) - d(std::cos(double{y[i]}));
}
void trig_d(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out[i] = d(std::sin(double{x[i]})) * d(std::cos(double{y[i]})) + d(std::atan(double{x[i] / y[i]}));
}
void explog_d(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = d(std::exp(double{x[i] / 10.0f})) - d(std::log10(double{y[i] + 2.0f}));
}
void hypot_d(const float *x, const float *y, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = d(std::sqrt(double{x[i] * x[i] + y[i] * y[i]}));
}
void select_d(const float *x, const float *, float *out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = x[i] > 0.0f ? d(std::log(double{x[i]})) : 0.0f;
}

} // namespace

const Loops kLoops[5] = {{short_f, short_d}, {trig_f, trig_d}, {explog_f, explog_d}, {hypot_f, hypot_d},
                         {select_f, select_d}};

} // namespace BULK_LOOPS

} // namespace bench
