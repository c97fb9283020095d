#include "textlayer/Label.h"

#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <algorithm>
#include <cmath>

#include "settings/JobSettings.h"

namespace mv {
namespace {

// One point is one pixel, as on the frames the stamps are drawn on.
constexpr int kDotsPerMeter72 = 2835;

bool textEngineReady() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

// The stamps' default family (a sans-serif stand-in where it is missing).
QFont labelFont(double pixelSize)
{
    QFont font(QString::fromStdString(FontSpec{}.family));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(std::isfinite(pixelSize) ? std::clamp(pixelSize, 1.0, 1000.0) : 12.0);
    // Kept apart from the window's fonts of the same pixel size, as the
    // stamps' are (see makeFont in CITextLayer.cpp).
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void set72Dpi(QImage& image)
{
    image.setDotsPerMeterX(kDotsPerMeter72);
    image.setDotsPerMeterY(kDotsPerMeter72);
}

} // namespace

LabelExtent measureLabel(const std::string& text, double pixelSize)
{
    if (!textEngineReady()) {
        const double size = std::isfinite(pixelSize) ? std::clamp(pixelSize, 1.0, 1000.0) : 12.0;
        return {0.6 * size * double(QString::fromStdString(text).size()), 1.2 * size};
    }
    QImage device(1, 1, QImage::Format_RGBA8888);
    set72Dpi(device);
    const QFontMetricsF metrics(labelFont(pixelSize), &device);
    return {metrics.horizontalAdvance(QString::fromStdString(text)), metrics.ascent() + metrics.descent()};
}

void drawLabel(RgbaBitmap& bitmap, const std::string& text, double x, double y, const LabelStyle& style)
{
    if (!textEngineReady() || text.empty() || !std::isfinite(x) || !std::isfinite(y) || bitmap.width <= 0 ||
        bitmap.height <= 0 || !bitmap.pixels.data() ||
        bitmap.pixels.size() < std::size_t(bitmap.width) * std::size_t(bitmap.height) * 4)
        return;
    // The bitmap's own memory, not premultiplied: an opaque bitmap reads the
    // same either way, and one with transparency keeps its meaning.
    QImage image(bitmap.pixels.data(), bitmap.width, bitmap.height, qsizetype(bitmap.width) * 4,
                 QImage::Format_RGBA8888);
    set72Dpi(image);
    const QFont font = labelFont(style.pixelSize);
    const QFontMetricsF metrics(font, &image);
    const QString line = QString::fromStdString(text);

    const double width = metrics.horizontalAdvance(line);
    if (style.horizontal == LabelAlign::Centre)
        x -= width / 2;
    else if (style.horizontal == LabelAlign::End)
        x -= width;
    double baseline = y;
    if (style.vertical == LabelAlign::Start)
        baseline += metrics.ascent();
    else if (style.vertical == LabelAlign::Centre)
        baseline += metrics.capHeight() / 2;
    else
        baseline -= metrics.descent();

    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(QColor(style.red, style.green, style.blue, style.alpha));
    painter.drawText(QPointF(x, baseline), line);
}

} // namespace mv
