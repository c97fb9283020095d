#include "shell/FramePreviewView.h"

#include <QPainter>

#include "shell/MainThread.h"
#include "textlayer/CITextLayer.h"

namespace mv::shell {

FramePreviewView::FramePreviewView(QWidget* parent) : QWidget(parent)
{
    setObjectName("framePreview");
    setAccessibleName(tr("Movie preview"));
    setToolTip(tr("The selected image as the movie will show it"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(120, 40); // the window fits a small screen at twice the scale
    main_ = std::make_unique<MainThread>(this);
    preview_ = std::make_unique<FramePreview>([this](FramePreviewPicture p) {
        auto shared = std::make_shared<FramePreviewPicture>(std::move(p));
        main_->post([this, shared] { take(std::move(*shared)); });
    });
}

FramePreviewView::~FramePreviewView() { preview_.reset(); }

void FramePreviewView::show(FramePreviewRequest r)
{
    watermark_ = r.settings.useWatermark;
    date_ = r.settings.isDateStamped;
    gps_ = r.settings.isGPS;
    waiting_ = preview_->request(std::move(r));
}

void FramePreviewView::clear()
{
    // An answer still on its way would draw a stamp from a list that is
    // being rebuilt.
    cleared_ = waiting_;
    frame_ = QImage();
    message_.clear();
    update();
}

void FramePreviewView::take(FramePreviewPicture p)
{
    if (p.serial < waiting_ || p.serial <= cleared_)
        return; // a newer one is on its way, or the preview was cleared since
    shown_ = p.serial;
    lastMs_ = p.ms;
    if (!p.ok) {
        frame_ = QImage();
        message_ = tr("This image can not be made into a frame.");
    } else {
        // The movie's text, drawn as the frame loop draws it; a failure
        // only shows here.
        if (text_ && watermark_)
            text_->renderWatermark(&p.bitmap, text_->watermarkString(), double(p.bitmap.width),
                                   double(p.bitmap.height));
        if (text_ && (date_ || gps_))
            text_->renderText(p.index, &p.bitmap, date_, gps_);
        frame_ = QImage(p.bitmap.pixels.data(), p.bitmap.width, p.bitmap.height, p.bitmap.width * 4,
                        QImage::Format_RGBA8888)
                     .copy();
        message_.clear();
    }
    update();
    emit frameShown();
}

void FramePreviewView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window).darker(115));
    if (frame_.isNull()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   message_.isEmpty() ? tr("Choose an image in the list to see its frame.") : message_);
        return;
    }
    // The whole frame, as large as it fits, in its own shape.
    const QSize fitted = frame_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame_);
}

} // namespace mv::shell
