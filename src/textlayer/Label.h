#pragma once
// Short texts drawn straight into a bitmap, such as the labels of a chart
// that the window shows and the command line saves. They need the text
// engine: call ensureTextEngine() (CITextLayer.h) on the main thread first,
// which a program with a window has done already. Without it nothing is
// drawn and sizes are estimated.
#include <cstdint>
#include <string>

#include "platform/picture/Picture.h"

namespace mv {

enum class LabelAlign { Start, Centre, End };

struct LabelStyle {
    double pixelSize = 12;
    std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    // x is the text's left edge, centre or right edge.
    LabelAlign horizontal = LabelAlign::Start;
    // y is the line's top (ascent), the middle of its capital letters and
    // figures, or its bottom (descent).
    LabelAlign vertical = LabelAlign::Start;
};

// The advance width of the text and the height of its line (ascent plus
// descent), in pixels.
struct LabelExtent {
    double width = 0, height = 0;
};
LabelExtent measureLabel(const std::string& text, double pixelSize);

// Draws UTF-8 `text` anti-aliased onto the bitmap; whatever falls outside
// it is cut off.
void drawLabel(RgbaBitmap& bitmap, const std::string& text, double x, double y, const LabelStyle& style);

} // namespace mv
