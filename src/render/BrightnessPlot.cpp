#include "render/BrightnessPlot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/system/Localize.h"
#include "textlayer/Label.h"

namespace mv {
namespace {

struct Colour {
    std::uint8_t r, g, b;
};
constexpr Colour kBackground{255, 255, 255};
constexpr Colour kGrid{0xe3, 0xe6, 0xea};
constexpr Colour kFrame{0xb4, 0xba, 0xc2};
constexpr Colour kText{0x4a, 0x50, 0x58};
constexpr Colour kDot{0x7b, 0x8c, 0xa6};   // muted grey-blue
constexpr Colour kCurve{0xe0, 0x66, 0x10}; // orange, apart from the dots' hue

// Right and bottom exclusive.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(double x, double y) const { return x >= left && x < right && y >= top && y < bottom; }
};

Rect intersect(const Rect& a, const Rect& b)
{
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    r.right = std::max(r.right, r.left);
    r.bottom = std::max(r.bottom, r.top);
    return r;
}

// The pixel box around a shape, as ints however far off the shape lies.
Rect boxAround(double x0, double y0, double x1, double y1, double reach)
{
    auto lo = [](double v) { return int(std::clamp(std::floor(v), -1.0, 1e8)); };
    auto hi = [](double v) { return int(std::clamp(std::ceil(v), -1.0, 1e8)); };
    return {lo(std::min(x0, x1) - reach), lo(std::min(y0, y1) - reach), hi(std::max(x0, x1) + reach) + 1,
            hi(std::max(y0, y1) + reach) + 1};
}

// Every write goes through the clip rectangle, itself inside the bitmap.
class Canvas {
public:
    explicit Canvas(RgbaBitmap& b) : b_(b), bounds_{0, 0, b.width, b.height} {}
    const Rect& bounds() const { return bounds_; }

    void blend(int x, int y, Colour c, float a)
    {
        std::uint8_t* p = &b_.pixels[(std::size_t(y) * std::size_t(b_.width) + std::size_t(x)) * 4];
        const int k = int(a * 255.0f + 0.5f);
        p[0] = std::uint8_t((c.r * k + p[0] * (255 - k) + 127) / 255);
        p[1] = std::uint8_t((c.g * k + p[1] * (255 - k) + 127) / 255);
        p[2] = std::uint8_t((c.b * k + p[2] * (255 - k) + 127) / 255);
    }

    void fill(Rect r, Colour c, float a = 1.0f)
    {
        r = intersect(r, bounds_);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                blend(x, y, c, a);
    }

    // An anti-aliased disc: coverage from the distance of each pixel's centre
    // to the circle.
    void disc(double cx, double cy, double radius, Colour c, float alpha, const Rect& clip)
    {
        const Rect r = intersect(boxAround(cx, cy, cx, cy, radius + 1), intersect(clip, bounds_));
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                const double cover = std::clamp(radius + 0.5 - d, 0.0, 1.0);
                if (cover > 0)
                    blend(x, y, c, float(cover) * alpha);
            }
    }

private:
    RgbaBitmap& b_;
    Rect bounds_;
};

// A line of several segments laid down as coverage first and blended once,
// so that joints and segments crowded into one column do not darken the
// line where they overlap.
class Stroke {
public:
    Stroke(const Rect& area, double halfWidth)
        : area_(area), half_(halfWidth), cover_(std::size_t(area.width()) * std::size_t(area.height()), 0)
    {
    }

    void segment(double x0, double y0, double x1, double y1)
    {
        const Rect r = intersect(boxAround(x0, y0, x1, y1, half_ + 1), area_);
        const double dx = x1 - x0, dy = y1 - y0, length2 = dx * dx + dy * dy;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const double px = x + 0.5 - x0, py = y + 0.5 - y0;
                const double t = length2 > 0 ? std::clamp((px * dx + py * dy) / length2, 0.0, 1.0) : 0.0;
                const double d = std::hypot(px - t * dx, py - t * dy);
                const auto c = std::uint8_t(std::lround(std::clamp(half_ + 0.5 - d, 0.0, 1.0) * 255));
                std::uint8_t& cell = cover_[std::size_t(y - area_.top) * std::size_t(area_.width()) + (x - area_.left)];
                cell = std::max(cell, c);
            }
    }

    void paint(Canvas& canvas, Colour c) const
    {
        for (int y = area_.top; y < area_.bottom; ++y)
            for (int x = area_.left; x < area_.right; ++x) {
                const std::uint8_t a = cover_[std::size_t(y - area_.top) * area_.width() + (x - area_.left)];
                if (a > 0)
                    canvas.blend(x, y, c, a / 255.0f);
            }
    }

private:
    Rect area_; // inside the bitmap
    double half_;
    std::vector<std::uint8_t> cover_;
};

// Values beyond this are held to it, so that the range's arithmetic stays
// finite; no real sequence comes near it.
constexpr double kMaxEv = 1e6;

double valueAt(const std::vector<double>& v, std::size_t i)
{
    if (i >= v.size() || !std::isfinite(v[i]))
        return std::numeric_limits<double>::quiet_NaN();
    return std::clamp(v[i], -kMaxEv, kMaxEv);
}

// Number of grid lines at multiples of `step` inside [lo, hi].
long linesIn(double lo, double hi, double step)
{
    return long(std::floor(hi / step + 1e-9) - std::ceil(lo / step - 1e-9)) + 1;
}

// Whole EV in a 1-2-5 sequence, the fewest that fit; halves or quarters when
// whole EV would leave fewer than three lines.
double gridStep(double lo, double hi, long maxLines)
{
    double step = 1;
    for (int i = 0; linesIn(lo, hi, step) > maxLines; ++i)
        step *= (i % 3 == 1) ? 2.5 : 2; // 1, 2, 5, 10, 20, 50 ...
    if (step == 1)
        for (double finer : {0.5, 0.25})
            if (linesIn(lo, hi, step) < 3 && linesIn(lo, hi, finer) <= maxLines)
                step = finer;
    return step;
}

// "+1.5 EV", "0 EV", "−0.25 EV" (with a real minus sign).
std::string evLabel(double v, double step)
{
    if (std::fabs(v) < step * 1e-6)
        return "0 EV";
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", step < 0.5 ? 2 : step < 1 ? 1 : 0, std::fabs(v));
    std::string text = digits;
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
    }
    return (v < 0 ? "\u2212" : "+") + text + " EV";
}

// Image numbers 1, 2, 5, 10, 20, 50 ... apart, at least `spacing` pixels.
long tickStep(double pixelsPerImage, double spacing)
{
    long step = 1;
    for (int i = 0; step * pixelsPerImage < spacing && step < (1L << 40); ++i)
        step = (i % 3 == 1) ? step * 5 / 2 : step * 2;
    return step;
}

LabelStyle styleOf(double size, Colour c, LabelAlign h, LabelAlign v)
{
    LabelStyle s;
    s.pixelSize = size;
    s.red = c.r;
    s.green = c.g;
    s.blue = c.b;
    s.horizontal = h;
    s.vertical = v;
    return s;
}

} // namespace

RgbaBitmap brightnessPlot(const std::vector<double>& measured, const std::vector<double>& curve, int width,
                          int height)
{
    RgbaBitmap bitmap;
    if (!pictureSizeAllowed(width, height))
        return bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pixels.resizeForOverwrite(std::size_t(width) * std::size_t(height) * 4);
    for (std::size_t i = 0; i < bitmap.pixels.size(); i += 4) {
        bitmap.pixels[i] = kBackground.r;
        bitmap.pixels[i + 1] = kBackground.g;
        bitmap.pixels[i + 2] = kBackground.b;
        bitmap.pixels[i + 3] = 255;
    }
    Canvas canvas(bitmap);

    const std::size_t n = std::max(measured.size(), curve.size());
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < n; ++i)
        for (double v : {valueAt(measured, i), valueAt(curve, i)})
            if (!std::isnan(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    const bool empty = lo > hi;
    if (empty) {
        lo = -1;
        hi = 1;
    }
    // A little room above and below the data, and at least 1 EV in all, so
    // that flicker of a few hundredths does not fill the chart.
    const double padding = std::max(0.06 * (hi - lo), 0.08);
    lo -= padding;
    hi += padding;
    if (hi - lo < 1) {
        const double mid = (lo + hi) / 2;
        lo = mid - 0.5;
        hi = mid + 0.5;
    }

    // Text size follows the chart's size within what stays readable. A chart
    // too small for any text gets only its data.
    const double textSize = std::clamp(std::min(width / 60.0, height / 26.0), 9.0, 13.0);
    const double lineHeight = measureLabel("0", textSize).height;
    const bool withText = width >= 120 && height >= 5 * lineHeight;
    const int tickLength = withText ? 4 : 0;
    const int gap = int(std::lround(textSize * 0.5));

    Rect plot;
    plot.top = withText ? int(std::ceil(lineHeight * 0.6)) + 2 : 2;
    plot.bottom = height - (withText ? tickLength + 3 + int(std::ceil(lineHeight)) + 3 : 2);
    const long maxLines = std::clamp(long((plot.bottom - plot.top) / (lineHeight * 1.8)), 2L, 8L);
    const double step = gridStep(lo, hi, maxLines);
    struct GridLine {
        double value;
        std::string label;
    };
    std::vector<GridLine> grid;
    double labelWidth = 0;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + 1e-9 * step; ++k) {
        grid.push_back({k * step, withText ? evLabel(k * step, step) : std::string()});
        if (withText)
            labelWidth = std::max(labelWidth, measureLabel(grid.back().label, textSize).width);
    }
    const std::string lastNumber = std::to_string(std::max<std::size_t>(n, 1));
    const double numberWidth = withText ? measureLabel(lastNumber, textSize).width : 0;
    plot.left = withText ? int(std::ceil(labelWidth)) + gap + 4 : 2;
    plot.right = width - (withText ? std::max(gap + 2, int(std::ceil(numberWidth / 2)) + 2) : 2);
    plot.right = std::max(plot.right, plot.left + 1);
    plot.bottom = std::max(plot.bottom, plot.top + 1);
    const Rect clip = intersect(plot, canvas.bounds());

    auto yOf = [&](double v) { return plot.top + (hi - v) / (hi - lo) * plot.height(); };

    // Dots shrink and fade as more of them share a pixel column, so that
    // thousands of images show as a band with its density rather than as a
    // solid bar.
    const double spacing = double(plot.width()) / double(std::max<std::size_t>(n, 1));
    const double dotRadius = std::clamp(0.45 * spacing, 1.2, 2.6);
    const float dotAlpha = float(std::clamp(0.3 + 0.2 * spacing, 0.3, 1.0));
    const double inset = std::min(dotRadius + 2, plot.width() / 2.0);
    const double pixelsPerImage = n > 1 ? (plot.width() - 2 * inset) / double(n - 1) : 0;
    auto xOf = [&](std::size_t i) {
        return n > 1 ? plot.left + inset + double(i) * pixelsPerImage : plot.left + plot.width() / 2.0;
    };

    for (const GridLine& line : grid)
        canvas.fill({plot.left, int(std::floor(yOf(line.value))), plot.right, int(std::floor(yOf(line.value))) + 1},
                    kGrid);
    canvas.fill({plot.left - 1, plot.top - 1, plot.right + 1, plot.top}, kFrame);
    canvas.fill({plot.left - 1, plot.bottom, plot.right + 1, plot.bottom + 1}, kFrame);
    canvas.fill({plot.left - 1, plot.top, plot.left, plot.bottom}, kFrame);
    canvas.fill({plot.right, plot.top, plot.right + 1, plot.bottom}, kFrame);

    // Image numbers: 1, then round multiples of the step, leaving out one
    // that would crowd the 1.
    std::vector<std::size_t> ticks;
    const double tickSpacing = numberWidth + 2.5 * textSize;
    if (n >= 1)
        ticks.push_back(1);
    if (n > 1) {
        const long every = tickStep(pixelsPerImage, tickSpacing);
        for (std::size_t k = std::size_t(every); k <= n; k += std::size_t(every))
            if ((k - 1) * pixelsPerImage >= tickSpacing)
                ticks.push_back(k);
    }
    for (std::size_t number : ticks) {
        const int x = int(std::floor(xOf(number - 1)));
        canvas.fill({x, plot.bottom + 1, x + 1, plot.bottom + 1 + tickLength}, kFrame);
    }

    for (std::size_t i = 0; i < n; ++i) {
        const double v = valueAt(measured, i);
        if (!std::isnan(v))
            canvas.disc(xOf(i), yOf(v), dotRadius, kDot, dotAlpha, clip);
    }

    const double halfWidth = 1.0; // a line of about 2 pixels
    Stroke stroke(clip, halfWidth);
    const double dash = n > 1 ? std::min(0.4 * pixelsPerImage, 5.0) : 5.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = valueAt(curve, i);
        if (std::isnan(v))
            continue;
        const double next = valueAt(curve, i + 1), before = i > 0 ? valueAt(curve, i - 1) : NAN;
        if (!std::isnan(next))
            stroke.segment(xOf(i), yOf(v), xOf(i + 1), yOf(next));
        else if (std::isnan(before)) // alone between gaps: a short level dash
            stroke.segment(xOf(i) - dash, yOf(v), xOf(i) + dash, yOf(v));
    }
    stroke.paint(canvas, kCurve);

    if (!withText)
        return bitmap;

    const LabelStyle axisStyle = styleOf(textSize, kText, LabelAlign::End, LabelAlign::Centre);
    for (const GridLine& line : grid)
        drawLabel(bitmap, line.label, plot.left - gap, std::floor(yOf(line.value)) + 0.5, axisStyle);
    LabelStyle numberStyle = styleOf(textSize, kText, LabelAlign::Centre, LabelAlign::Start);
    for (std::size_t number : ticks) {
        const std::string text = std::to_string(number);
        const double half = measureLabel(text, textSize).width / 2;
        const double x = std::clamp(std::floor(xOf(number - 1)) + 0.5, half, width - half);
        drawLabel(bitmap, text, x, plot.bottom + 1 + tickLength + 2, numberStyle);
    }

    if (empty) {
        drawLabel(bitmap, windowText("No image could be measured"), plot.left + plot.width() / 2.0,
                  plot.top + plot.height() / 2.0, styleOf(textSize, kText, LabelAlign::Centre, LabelAlign::Centre));
        return bitmap;
    }

    // The legend goes into the corner of the plot where the least data is.
    const std::array<std::string, 2> names = {windowText("Measured brightness"), windowText("Deflicker curve")};
    const double sampleWidth = std::round(textSize * 1.5), pad = std::round(textSize * 0.5);
    const double rowHeight = std::ceil(lineHeight * 1.15);
    const int boxW = int(std::ceil(2 * pad + sampleWidth + pad +
                                   std::max(measureLabel(names[0], textSize).width,
                                            measureLabel(names[1], textSize).width)));
    const int boxH = int(std::ceil(2 * pad + 2 * rowHeight - (rowHeight - lineHeight)));
    const int inside = int(pad);
    if (boxW + 2 * inside > plot.width() || boxH + 2 * inside > plot.height())
        return bitmap;
    const int leftX = plot.left + inside, rightX = plot.right - inside - boxW;
    const int topY = plot.top + inside, bottomY = plot.bottom - inside - boxH;
    const std::array<Rect, 4> corners = {Rect{rightX, topY, rightX + boxW, topY + boxH},
                                         Rect{leftX, topY, leftX + boxW, topY + boxH},
                                         Rect{rightX, bottomY, rightX + boxW, bottomY + boxH},
                                         Rect{leftX, bottomY, leftX + boxW, bottomY + boxH}};
    std::array<long, 4> crowd{};
    long samples = 0;
    auto count = [&](double x, double y) {
        ++samples;
        for (std::size_t c = 0; c < corners.size(); ++c)
            crowd[c] += corners[c].contains(x, y);
    };
    for (std::size_t i = 0; i < n; ++i) {
        if (const double v = valueAt(measured, i); !std::isnan(v))
            count(xOf(i), yOf(v));
        const double v = valueAt(curve, i), next = valueAt(curve, i + 1);
        if (std::isnan(v) || std::isnan(next)) {
            if (!std::isnan(v))
                count(xOf(i), yOf(v));
            continue;
        }
        // Along the line every few pixels, so that a line through a corner
        // between two far-apart images counts too.
        const int steps = 1 + int(std::min(pixelsPerImage, 4096.0) / 4);
        for (int s = 0; s < steps; ++s) {
            const double t = double(s) / steps;
            count(xOf(i) + t * pixelsPerImage, yOf(v + t * (next - v)));
        }
    }
    const std::size_t corner = std::size_t(std::min_element(crowd.begin(), crowd.end()) - crowd.begin());
    // On a small chart every corner may hold data: no legend then, rather
    // than one that hides the part of the curve it explains.
    if (crowd[corner] > samples / 100)
        return bitmap;
    const Rect box = corners[corner];

    canvas.fill(box, kBackground, 0.9f);
    canvas.fill({box.left, box.top, box.right, box.top + 1}, kGrid);
    canvas.fill({box.left, box.bottom - 1, box.right, box.bottom}, kGrid);
    canvas.fill({box.left, box.top + 1, box.left + 1, box.bottom - 1}, kGrid);
    canvas.fill({box.right - 1, box.top + 1, box.right, box.bottom - 1}, kGrid);
    const double sampleX = box.left + pad;
    const double rowY[2] = {box.top + pad + lineHeight / 2, box.top + pad + rowHeight + lineHeight / 2};
    canvas.disc(sampleX + sampleWidth / 2, rowY[0], 2.6, kDot, 1.0f, box);
    Stroke sample(intersect(box, canvas.bounds()), halfWidth);
    sample.segment(sampleX, std::floor(rowY[1]) + 0.5, sampleX + sampleWidth, std::floor(rowY[1]) + 0.5);
    sample.paint(canvas, kCurve);
    const LabelStyle legendStyle = styleOf(textSize, kText, LabelAlign::Start, LabelAlign::Centre);
    for (int row = 0; row < 2; ++row)
        drawLabel(bitmap, names[std::size_t(row)], sampleX + sampleWidth + pad, std::floor(rowY[row]) + 0.5,
                  legendStyle);
    return bitmap;
}

} // namespace mv
