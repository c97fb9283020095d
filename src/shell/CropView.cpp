#include "shell/CropView.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>

#include "animation/CropWindow.h"
#include "imagelist/ImagesList.h"
#include "platform/picture/PictureProbe.h"
#include "platform/ports/UiPorts.h"
#include "render/RunningValues.h"
#include "settings/JobSettings.h"
#include "shell/MainThread.h"
#include "textlayer/CITextLayer.h"

namespace mv::shell {
namespace {

QString wt(const char* key) { return QCoreApplication::translate("MVWindow", key); }

// "{{x, y}, {w, h}}", as the keyframe model keeps its rectangles.
std::optional<Rect> parseRect(const std::string& text)
{
    Rect r;
    if (std::sscanf(text.c_str(), "{{%lf, %lf}, {%lf, %lf}}", &r.x, &r.y, &r.width, &r.height) != 4)
        return std::nullopt;
    return r;
}

QImage wrap(const RgbaBitmap& b)
{
    // A deep copy: the bitmap's memory belongs to the loader's answer.
    return QImage(b.pixels.data(), b.width, b.height, b.width * 4, QImage::Format_RGBA8888).copy();
}

const QColor kKeyframeColor(255, 255, 0, 128); // yellow at half opacity
const QColor kLabelColor(255, 255, 0, 191);
const QColor kMovieRectColor(80, 200, 255); // the movie's rectangle at the image shown

} // namespace

CropView::CropView(JobSettings& settings, CropViewState& state, const CropWindow& model, const ImagesList& list,
                   AlertPort& alerts, QWidget* parent)
    : QWidget(parent), settings_(settings), state_(state), model_(model), list_(list), alerts_(alerts),
      geometry_(state)
{
    setObjectName("cropView");
    setAccessibleName(tr("Preview"));
    setToolTip(tr("Drag the arrows to move the crop rectangle; drag anywhere else sideways to resize it"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    arrowsImage_.load(":/Arrows.png");
    arrowImage_.load(":/Arrow.png");
    main_ = std::make_unique<MainThread>(this);
    loader_ = std::make_unique<PreviewLoader>([this](PreviewPicture p) {
        auto shared = std::make_shared<PreviewPicture>(std::move(p));
        main_->post([this, shared] { takePicture(std::move(*shared)); });
    });
}

CropView::~CropView()
{
    loader_.reset();
}

void CropView::resetCropImage()
{
    isCropImage_ = false;
    state_.isCropRect = false;
    picture_ = QImage();
    lastFrame_.reset();
    stampChanged_ = true;
    update();
}

void CropView::setSourceSize(double w, double h)
{
    state_.srcRect = {0, 0, w, h};
    isCropImage_ = true;
}

void CropView::settingsChanged()
{
    if (settings_.isFilterChange) {
        adjustmentsChanged_ = true;
        settings_.isFilterChange = false;
    }
    stampChanged_ = true;
    update();
}

std::uint32_t CropView::shownIndex() const
{
    // The list's own count: a movie being made writes the settings' copy.
    const std::uint32_t n = list_.fileCount();
    const std::uint32_t i = model_.sliderFrame();
    return (n > 0 && i >= n) ? n - 1 : i;
}

void CropView::askForPicture()
{
    const auto& files = list_.imageFiles();
    if (files.empty() || !isCropImage_)
        return;
    const std::uint32_t i = std::min<std::uint32_t>(shownIndex(), std::uint32_t(files.size() - 1));
    const QSize size = this->size() * devicePixelRatioF();
    if (lastFrame_ == i && askedSize_ == size && !adjustmentsChanged_)
        return;
    const bool newImage = lastFrame_ != i || askedSize_ != size;
    lastFrame_ = i;
    askedSize_ = size;
    adjustmentsChanged_ = false;
    if (newImage)
        stampChanged_ = true;
    PreviewRequest r;
    r.path = files[i];
    r.width = size.width();
    r.height = size.height();
    // The movie blurs its frame; at the view's scale the radius shrinks alike.
    r.adjustments = previewAdjustments(settings_, geometry_.scale() * float(devicePixelRatioF()));
    waitingSerial_ = loader_->request(std::move(r));
}

void CropView::takePicture(PreviewPicture p)
{
    if (p.serial < shownSerial_)
        return;
    shownSerial_ = p.serial;
    lastTimes_ = {p.loadMs, p.adjustMs, p.reloaded, p.draft};
    if (!p.ok) {
        picture_ = QImage();
        update();
        // One alert per failed picture, after the paint that asked for it.
        if (failedSerial_ != p.serial) {
            failedSerial_ = p.serial;
            const QString name = QFileInfo(QString::fromStdString(p.path)).fileName();
            alerts_.alert(wt("Image display error.").toStdString(),
                          wt("Image %1 can not be rendered.").arg(name).toStdString());
        }
        emit pictureShown();
        return;
    }
    picture_ = wrap(p.bitmap);
    picture_.setDevicePixelRatio(devicePixelRatioF());
    update();
    emit pictureShown();
}

void CropView::makeStamp()
{
    stampChanged_ = false;
    stamp_ = QImage();
    if (!text_ || !(settings_.isDateStamped || settings_.isGPS) || list_.imageFiles().empty())
        return;
    RgbaBitmap b;
    if (text_->renderText(shownIndex(), nullptr, settings_.isDateStamped, settings_.isGPS) &&
        text_->stampBitmap(b) && b.width > 0 && b.height > 0)
        stamp_ = QImage(b.pixels.data(), b.width, b.height, b.width * 4, QImage::Format_RGBA8888_Premultiplied)
                     .copy();
}

QRectF CropView::toQt(const Rect& r) const { return QRectF(r.x, height() - r.y - r.height, r.width, r.height); }

QPointF CropView::toView(const QPointF& p) const { return QPointF(p.x(), height() - p.y()); }

void CropView::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    state_.frame.width = width();
    state_.frame.height = height();
}

void CropView::paintEvent(QPaintEvent*)
{
    // The first image's extent ties the rectangle to the output; its header
    // is enough.
    if (!isCropImage_ && !list_.imageFiles().empty())
        if (const auto first = probePicture(list_.imageFiles()[0]))
            setSourceSize(first->width, first->height);
    if (isCropImage_ && !state_.isCropRect)
        geometry_.startCropRect(settings_, width(), height());
    askForPicture();
    if (stampChanged_)
        makeStamp();
    QPainter p(this);
    const QRectF bounds = rect();
    const double rw = width(), rh = height();

    // The picture, stretched to the view; black until the first one is made.
    if (picture_.isNull())
        p.fillRect(bounds, Qt::black);
    else
        p.drawImage(bounds, picture_);
    if (!stamp_.isNull() && isCropImage_ && state_.isCropRect) {
        // Where and as large as the movie draws it on the frame that the
        // rectangle shows, and cut at the frame's edges as there.
        p.save();
        p.setClipRect(toQt(state_.cropRect));
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setOpacity(0.8);
        p.drawImage(toQt(geometry_.stampRect(stamp_.width(), stamp_.height())), stamp_);
        p.restore();
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::darkGray, 2.0));
    p.drawRect(bounds.adjusted(1, 1, -1, -1));
    if (!arrowImage_.isNull()) {
        p.setOpacity(0.7);
        p.drawImage(toQt({20, 20, double(arrowImage_.width()), double(arrowImage_.height())}), arrowImage_);
        p.setOpacity(1.0);
    }
    if (!isCropImage_)
        return;

    // The entered keyframes, each with its image number.
    const auto& rects = model_.rectArray();
    const auto& labels = model_.fNumArray();
    QFont labelFont("Geneva");
    labelFont.setPointSizeF(9);
    p.setFont(labelFont);
    for (std::size_t k = 0; k < rects.size(); ++k) {
        std::optional<Rect> r = parseRect(rects[k]);
        if (!r)
            continue;
        r = model_.inPreview(*r);
        p.setPen(QPen(kKeyframeColor, 1.0));
        p.drawRect(toQt(*r));
        if (k < labels.size()) {
            p.setPen(kLabelColor);
            p.drawText(QPointF(r->x + 5, rh - (r->y + 4)), QString::fromStdString(labels[k]));
        }
    }

    // What the movie uses at this image, between keyframes too: dashed.
    if (const auto& keys = model_.frameArray(); !keys.empty()) {
        const Rect r = model_.inPreview(keyframedRect(keys, shownIndex(), settings_.isVertical));
        QPen pen(kMovieRectColor, 1.5, Qt::DashLine);
        p.setPen(pen);
        p.drawRect(toQt(r));
        p.setPen(kMovieRectColor);
        p.drawText(QPointF(r.x + 5, rh - (r.y + r.height) + 14), tr("movie"));
    }

    // The crop rectangle: green when the movie needs no enlargement.
    const QColor color = geometry_.isGreen(rw) ? Qt::green : Qt::red;
    p.setPen(QPen(color, 2.0));
    p.drawRect(toQt(state_.cropRect));
    const QRectF handle = toQt(geometry_.shiftRect());
    p.setPen(QPen(color, 1.0));
    p.drawEllipse(handle);
    if (!arrowsImage_.isNull()) {
        p.setOpacity(0.7);
        p.drawImage(handle, arrowsImage_);
    }
}

void CropView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !state_.isCropRect)
        return;
    const QPointF v = toView(e->position());
    previous_ = v;
    if (geometry_.inHandle(v.x(), v.y())) {
        drag_ = Drag::Move;
        setCursor(Qt::ClosedHandCursor);
    } else {
        drag_ = Drag::Resize;
        setCursor(Qt::SizeHorCursor);
    }
}

void CropView::mouseMoveEvent(QMouseEvent* e)
{
    if (drag_ == Drag::None || !(e->buttons() & Qt::LeftButton))
        return;
    const QPointF v = toView(e->position());
    const float w = static_cast<float>(width()), h = static_cast<float>(height());
    if (drag_ == Drag::Move)
        geometry_.moveBy(static_cast<float>(v.x() - previous_.x()), static_cast<float>(v.y() - previous_.y()), w, h);
    else
        geometry_.resizeBy(static_cast<float>(v.x() - previous_.x()), w, h, settings_.isVertical);
    previous_ = v;
    update();
}

void CropView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    drag_ = Drag::None;
    unsetCursor();
}

} // namespace mv::shell
