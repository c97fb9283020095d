#pragma once
// The main window's preview of the selected image as the movie will show
// it: the frame is made off the main thread (FramePreview); the date/GPS
// stamp and the watermark are drawn here, where the list they read lives.
#include <QImage>
#include <QWidget>
#include <memory>

#include "render/FramePreview.h"

namespace mv {
class CITextLayer;
}

namespace mv::shell {

class MainThread;

class FramePreviewView : public QWidget {
    Q_OBJECT
public:
    explicit FramePreviewView(QWidget* parent = nullptr);
    ~FramePreviewView() override;

    void setTextLayer(CITextLayer* layer) { text_ = layer; }
    void show(FramePreviewRequest r);
    void clear();
    bool isLoading() const { return waiting_ > shown_ && waiting_ > cleared_; }
    const QImage& frame() const { return frame_; }
    double lastMs() const { return lastMs_; }
    QSize sizeHint() const override { return {256, 144}; }

signals:
    void frameShown();

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void take(FramePreviewPicture p);

    CITextLayer* text_ = nullptr;
    QImage frame_;
    QString message_;
    double lastMs_ = 0;
    std::uint64_t waiting_ = 0, shown_ = 0;
    std::uint64_t cleared_ = 0; // answers up to this one come too late
    bool watermark_ = false, date_ = false, gps_ = false; // of the newest request
    std::unique_ptr<MainThread> main_;
    std::unique_ptr<FramePreview> preview_; // last: its thread ends first
};

} // namespace mv::shell
