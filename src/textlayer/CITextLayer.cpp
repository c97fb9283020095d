#include "textlayer/CITextLayer.h"

#include <type_traits>

#include <QtCore/QStringList>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QFontDatabase>
#include <QtGui/QFontInfo>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "imagelist/ImagesList.h"

namespace mv {
namespace {

// Font sizes are in points as the panels give them, and a point is one
// pixel of the frame: every image drawn on is set to 72 dots per inch.
constexpr int kDotsPerMeter72 = 2835; // QImage rounds this to 72 dpi

bool textEngineReady() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QFont makeFont(const FontSpec& spec)
{
    const QString family = QString::fromStdString(spec.family), style = QString::fromStdString(spec.style);
    // The family's own face of that style (its weight, slant and width);
    // a style the family does not have leaves the regular face.
    QFont font = !style.isEmpty() && QFontDatabase::styles(family).contains(style)
                     ? QFontDatabase::font(family, style, 12)
                     : QFont(family);
    const double size = std::isfinite(spec.pointSize) ? std::clamp(spec.pointSize, 1.0, 1000.0) : 12.0;
    font.setPointSizeF(size);
    // Qt shares a font engine between fonts of the same pixel size whatever
    // their point size: a 12-point font here (12 pixels at 72 dpi) would
    // lend its engine to the window's 9-point font (12 pixels at 96 dpi),
    // whose menus then measure at 9 points and draw at 12. A hinting setting
    // of their own keeps the frame's fonts apart; frames are not the screen
    // grid that hinting is for anyway.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QColor makeColor(const RGBAColor& c)
{
    auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 1.0; };
    return QColor::fromRgbF(static_cast<float>(unit(c.red)), static_cast<float>(unit(c.green)),
                            static_cast<float>(unit(c.blue)), static_cast<float>(unit(c.alpha)));
}

struct Attributes {
    QFont font;
    QColor color;
};

// One text bitmap: zero-filled memory with rows padded to 64 bytes, and the
// image over that same memory.
struct TextBitmap {
    std::unique_ptr<uchar[]> data;
    QImage image;

    bool present() const { return !image.isNull(); }
    void clear()
    {
        if (present())
            std::memset(data.get(), 0, static_cast<std::size_t>(image.bytesPerLine()) * image.height());
    }
    // A block larger than the image library can hold gets a bitmap of the
    // part that fits (its lower left, where drawing starts); false then.
    bool allocate(std::uint64_t w, std::uint64_t h)
    {
        image = QImage();
        data.reset();
        if (w == 0 || h == 0)
            return true;
        const bool whole = pictureSizeAllowed(std::int64_t(std::min<std::uint64_t>(w, kMaxPictureSide + 1)),
                                              std::int64_t(std::min<std::uint64_t>(h, kMaxPictureSide + 1)));
        w = std::min<std::uint64_t>(w, kMaxPictureSide);
        h = std::min<std::uint64_t>({h, kMaxPictureSide, std::uint64_t(kMaxPicturePixels) / w});
        allocateWhole(w, h);
        return whole;
    }

private:
    void allocateWhole(std::uint64_t w, std::uint64_t h)
    {
        const std::size_t rowBytes = (w * 4 + 63) / 64 * 64;
        data.reset(new (std::nothrow) uchar[rowBytes * h]()); // zero-filled
        if (!data)
            return;
        image = QImage(data.get(), int(w), int(h), qsizetype(rowBytes), QImage::Format_RGBA8888_Premultiplied);
        image.setDotsPerMeterX(kDotsPerMeter72);
        image.setDotsPerMeterY(kDotsPerMeter72);
    }

public:
    bool copyTo(RgbaBitmap& out) const
    {
        if (!present())
            return false;
        out.width = image.width();
        out.height = image.height();
        const std::size_t row = std::size_t(out.width) * 4;
        out.pixels.resizeForOverwrite(row * out.height);
        for (int y = 0; y < out.height; ++y)
            std::memcpy(out.pixels.data() + row * y, image.constScanLine(y), row);
        return true;
    }
};

QStringList linesOf(const std::string& text) { return QString::fromStdString(text).split(QLatin1Char('\n')); }

struct Extent {
    double width = 0, height = 0;
};

// The text's block: its widest line, and the lines' height.
Extent measure(const QFont& font, const std::string& text)
{
    QImage device(1, 1, QImage::Format_RGBA8888_Premultiplied);
    device.setDotsPerMeterX(kDotsPerMeter72);
    device.setDotsPerMeterY(kDotsPerMeter72);
    const QFontMetricsF metrics(font, &device);
    const QStringList lines = linesOf(text);
    Extent e;
    for (const QString& line : lines)
        e.width = std::max(e.width, metrics.horizontalAdvance(line));
    e.height = metrics.height() + (lines.size() - 1) * metrics.lineSpacing();
    return e;
}

// Draws the text with its block's lower-left corner at (x, y) of the image,
// y counted upwards from the bottom row. A line that runs past the right
// edge ends in an ellipsis.
void drawBlock(QImage& image, const Attributes& a, const std::string& text, double x, double y)
{
    QPainter painter(&image);
    painter.setFont(a.font);
    painter.setPen(a.color);
    const QFontMetricsF metrics(a.font, &image);
    const QStringList lines = linesOf(text);
    const double room = std::max(0.0, image.width() - x);
    // The last line's descent rests on y; Qt counts rows from the top.
    double baseline = image.height() - y - metrics.descent() - (lines.size() - 1) * metrics.lineSpacing();
    for (const QString& line : lines) {
        // Lines wholly above or below the image are not laid out at all: a
        // block of thousands of lines costs only the ones that show.
        if (baseline + metrics.descent() >= 0 && baseline - metrics.ascent() <= image.height())
            painter.drawText(QPointF(x, baseline), metrics.elidedText(line, Qt::ElideRight, room));
        baseline += metrics.lineSpacing();
    }
}

// The frame's pixels as an image, without a copy; null when the bitmap does
// not hold the pixels its size says.
template <typename Bitmap> QImage wrapFrame(Bitmap& frame)
{
    constexpr bool deep = std::is_same_v<Bitmap, RgbaBitmap16>;
    const std::size_t bytes = deep ? 8 : 4; // a pixel
    if (frame.width <= 0 || frame.height <= 0 || !frame.pixels.data() ||
        frame.pixels.size() < std::size_t(frame.width) * std::size_t(frame.height) * bytes)
        return {};
    QImage image(frame.pixels.data(), frame.width, frame.height, qsizetype(frame.width * bytes),
                 deep ? QImage::Format_RGBA64_Premultiplied : QImage::Format_RGBA8888_Premultiplied);
    image.setDotsPerMeterX(kDotsPerMeter72);
    image.setDotsPerMeterY(kDotsPerMeter72);
    return image;
}

std::string format(const char* fmt, unsigned a, unsigned b = 0)
{
    char line[128];
    std::snprintf(line, sizeof line, fmt, a, b);
    return line;
}

const char* const kSampleStamp = "Locn: 44\u00B0 29' 00\" N, 63\u00B0 48' 00\" W    2012:03:30 22:00:00";

} // namespace

TextOrigin watermarkOrigin(unsigned frameW, unsigned frameH, std::uint64_t w, std::uint64_t h, double posnX,
                           double posnY)
{
    const long W = frameW, H = frameH;
    if (W > 30 && w > std::uint64_t(W - 30))
        w = std::uint64_t(W - 30);
    const long bw = long(std::min<std::uint64_t>(w, 1u << 30)), bh = long(std::min<std::uint64_t>(h, 1u << 30));
    TextOrigin o;
    const long codeX = std::isfinite(posnX) ? long(posnX) : 0, codeY = std::isfinite(posnY) ? long(posnY) : 0;
    if (codeX == 1)
        o.x = W / 2 - bw / 2;
    else if (codeX == 2)
        o.x = W - 30 - bw;
    else
        o.x = 30;
    if (codeY == 1)
        o.y = H / 2 - bh / 2;
    else if (codeY == 2)
        o.y = 30;
    else // at the top; a block too tall for it rests on the bottom edge or shows its top line
        o.y = std::max(H - 30 - bh, std::min(0L, H - bh));
    return o;
}

struct CITextLayer::Impl {
    explicit Impl(ImagesList& l) : list(l) {}
    ImagesList& list;
    std::optional<Attributes> textAttributes, watermarkAttributes;
    TextBitmap stamp, mark;
    std::optional<std::string> text = std::string(kSampleStamp);
    std::uint64_t width = 0, height = 0, mWidth = 0, mHeight = 0;
    bool stampCut = false, markCut = false; // larger than a bitmap can be
    double posnX = 0, posnY = 0;
    std::string watermark;
};

CITextLayer::CITextLayer(ImagesList& list) : d_(std::make_unique<Impl>(list)) {}
CITextLayer::~CITextLayer() = default;

void CITextLayer::createAttributes()
{
    std::lock_guard lock(mutex_);
    if (!textEngineReady())
        return;
    const Attributes start{makeFont(FontSpec{}), QColor(Qt::white)};
    d_->textAttributes = start;
    d_->watermarkAttributes = start;
}

void CITextLayer::dateText(const FontSpec& font, const RGBAColor& color)
{
    std::lock_guard lock(mutex_);
    if (!d_->textAttributes)
        return;
    d_->textAttributes = Attributes{makeFont(font), makeColor(color)};
    if (!d_->text)
        return; // after a failed stamp the bitmap stays as it is
    const Extent e = measure(d_->textAttributes->font, *d_->text);
    d_->width = static_cast<std::uint64_t>(std::floor(e.width + 10));
    d_->height = static_cast<std::uint64_t>(std::floor(e.height));
    d_->stampCut = !d_->stamp.allocate(d_->width, d_->height);
}

void CITextLayer::watermarkText(const FontSpec& font, const RGBAColor& color, const std::string& text, double posnX,
                                double posnY)
{
    std::lock_guard lock(mutex_);
    if (!d_->watermarkAttributes)
        return;
    d_->watermarkAttributes = Attributes{makeFont(font), makeColor(color)};
    const Extent e = measure(d_->watermarkAttributes->font, text);
    d_->mWidth = static_cast<std::uint64_t>(std::floor(e.width + 10));
    d_->mHeight = static_cast<std::uint64_t>(std::floor(e.height));
    d_->markCut = !d_->mark.allocate(d_->mWidth, d_->mHeight);
    d_->posnX = posnX;
    d_->posnY = posnY;
    d_->watermark = text;
}

std::string CITextLayer::watermarkString() const
{
    std::lock_guard lock(mutex_);
    return d_->watermark;
}

bool CITextLayer::renderText(unsigned index, RgbaBitmap* frame, bool isDate, bool isGPS)
{
    QImage wrapped = frame ? wrapFrame(*frame) : QImage();
    return renderTextOn(index, frame ? &wrapped : nullptr, isDate, isGPS);
}

bool CITextLayer::renderText(unsigned index, RgbaBitmap16& frame, bool isDate, bool isGPS)
{
    QImage wrapped = wrapFrame(frame);
    return renderTextOn(index, &wrapped, isDate, isGPS);
}

bool CITextLayer::renderWatermark(RgbaBitmap* frame, const std::string& text, double frameW, double frameH)
{
    QImage wrapped = frame ? wrapFrame(*frame) : QImage();
    return renderWatermarkOn(frame ? &wrapped : nullptr, text, frameW, frameH);
}

bool CITextLayer::renderWatermark(RgbaBitmap16& frame, const std::string& text, double frameW, double frameH)
{
    QImage wrapped = wrapFrame(frame);
    return renderWatermarkOn(&wrapped, text, frameW, frameH);
}

bool CITextLayer::renderTextOn(unsigned index, QImage* frame, bool isDate, bool isGPS)
{
    std::lock_guard lock(mutex_);
    Impl& d = *d_;
    if (!d.textAttributes) {
        d.list.writeVerifyFile("CITextLayer renderText(): ciTextAttributes == nil\n");
        return false;
    }
    if (!d.stamp.present()) {
        d.list.writeVerifyFile("CITextLayer renderText(): bitmapImage == nil\n");
        return false;
    }
    // The own bitmap is painted through its one image: a painted copy would
    // detach from the memory.
    QImage& target = frame ? *frame : d.stamp.image;
    if (target.isNull()) {
        d.list.writeVerifyFile("CITextLayer renderText(): bitmapContext == nil\n");
        return false;
    }
    d.text.reset();

    // An index past a list's end counts as no entry rather than being read.
    const std::vector<std::string>& locn = d.list.frameLocn();
    const std::vector<std::string>& date = d.list.frameDate();
    const auto gpsCount = static_cast<unsigned>(locn.size()), dateCount = static_cast<unsigned>(date.size());
    const bool hasGPS = index < gpsCount, hasDate = index < dateCount;
    std::string chosen;
    if (isDate && isGPS && hasGPS && hasDate)
        chosen = locn[index] + "    " + date[index];
    else if (isDate && hasDate)
        chosen = date[index];
    else if (isGPS && hasGPS)
        chosen = locn[index];
    else {
        if (isDate && isGPS)
            d.list.writeVerifyFile(format("CITextLayer renderText(): dateCount= %u, gpsCount= %u\n", dateCount, gpsCount));
        else if (isDate)
            d.list.writeVerifyFile(format("CITextLayer renderText(): dateCount= %u\n", dateCount));
        else if (isGPS)
            d.list.writeVerifyFile(format("CITextLayer renderText(): gpsCount= %u\n", gpsCount));
        else
            d.list.writeVerifyFile("CITextLayer renderText(): isDate and isGPS are false\n");
        return false;
    }
    d.text = chosen;
    d.stamp.clear();
    const double at = frame ? kStampInset : 0;
    drawBlock(target, *d.textAttributes, chosen, at, at);
    return true;
}

bool CITextLayer::renderWatermarkOn(QImage* frame, const std::string& text, double frameW, double frameH)
{
    std::lock_guard lock(mutex_);
    Impl& d = *d_;
    if (!d.watermarkAttributes || !d.mark.present())
        return false;
    QImage& target = frame ? *frame : d.mark.image;
    if (target.isNull())
        return false;
    d.mark.clear();
    auto side = [](double v) { return std::isfinite(v) ? unsigned(std::clamp(v, 0.0, 65535.0)) : 0u; };
    const unsigned W = side(frameW), H = side(frameH);
    if (W > 30 && d.mWidth > W - 30)
        d.mWidth = W - 30; // kept lowered until the watermark is sized again
    if (frame) {
        const TextOrigin o = watermarkOrigin(W, H, d.mWidth, d.mHeight, d.posnX, d.posnY);
        drawBlock(target, *d.watermarkAttributes, text, double(o.x), double(o.y));
    } else {
        drawBlock(target, *d.watermarkAttributes, text, 0, 0);
    }
    return true;
}

std::uint64_t CITextLayer::width() const
{
    std::lock_guard lock(mutex_);
    return d_->width;
}
std::uint64_t CITextLayer::height() const
{
    std::lock_guard lock(mutex_);
    return d_->height;
}
std::uint64_t CITextLayer::mWidth() const
{
    std::lock_guard lock(mutex_);
    return d_->mWidth;
}
std::uint64_t CITextLayer::mHeight() const
{
    std::lock_guard lock(mutex_);
    return d_->mHeight;
}
bool CITextLayer::stampCut() const
{
    std::lock_guard lock(mutex_);
    return d_->stampCut;
}
bool CITextLayer::watermarkCut() const
{
    std::lock_guard lock(mutex_);
    return d_->markCut;
}
std::string CITextLayer::text() const
{
    std::lock_guard lock(mutex_);
    return d_->text.value_or(std::string());
}
bool CITextLayer::stampBitmap(RgbaBitmap& out) const
{
    std::lock_guard lock(mutex_);
    return d_->stamp.copyTo(out);
}
bool CITextLayer::watermarkBitmap(RgbaBitmap& out) const
{
    std::lock_guard lock(mutex_);
    return d_->mark.copyTo(out);
}

std::string CITextLayer::resolvedFamily(const std::string& requested)
{
    if (!textEngineReady())
        return {};
    return QFontInfo(QFont(QString::fromStdString(requested))).family().toStdString();
}

namespace {

QtMessageHandler gQtMessages = nullptr;

// Without a desktop session (cron, ssh) Qt warns on every start that it has
// no runtime folder; it makes its own, and the warning would only stand
// between the user and the program's own messages.
void quietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (gQtMessages)
        gQtMessages(type, context, message);
}

} // namespace

void ensureTextEngine(int argc, char** argv)
{
    if (QCoreApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    gQtMessages = qInstallMessageHandler(quietQtMessages);
    // The application object must outlive every use of a font, and
    // destroying it among the static destructors races Qt's own teardown:
    // it is kept until the process ends.
    static int args = argc > 0 && argv ? argc : 1;
    static char name[] = "moirevance";
    static char* fallback[] = {name, nullptr};
    static char** argvKept = argc > 0 && argv ? argv : fallback;
    static QGuiApplication* app = new QGuiApplication(args, argvKept);
    (void)app;
}

} // namespace mv
