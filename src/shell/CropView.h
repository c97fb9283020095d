#pragma once
// The editor's preview: the image at the frame slider with the job's
// adjustments, the stamp, the entered keyframes' rectangles and the crop
// rectangle that the mouse moves and resizes. Pictures are made on the
// preview loader's thread; a mouse edit only paints the kept picture again.
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

#include "animation/CropViewGeometry.h"
#include "render/PreviewLoader.h"

namespace mv {
class AlertPort;
class CITextLayer;
class CropWindow;
class ImagesList;
struct JobSettings;
} // namespace mv

namespace mv::shell {

class MainThread;

class CropView : public QWidget {
    Q_OBJECT
public:
    CropView(JobSettings& settings, CropViewState& state, const CropWindow& model, const ImagesList& list,
             AlertPort& alerts, QWidget* parent = nullptr);
    ~CropView() override;

    void setTextLayer(CITextLayer* text) { text_ = text; }
    // The editor was opened or resized: a new rectangle and a new picture.
    void resetCropImage();
    // The first image's extent is known (the editor read its header).
    void setSourceSize(double w, double h);
    // Settings that the picture depends on changed (adjustments, stamps).
    void settingsChanged();

    CropViewGeometry& geometry() { return geometry_; }
    // The image index the preview shows (the slider's, held to the list).
    std::uint32_t shownIndex() const;
    // The picture being shown and whether a newer one is being made.
    const QImage& picture() const { return picture_; }
    bool isLoading() const { return waitingSerial_ != shownSerial_; }
    struct Times {
        double loadMs = 0, adjustMs = 0; // of the picture last shown
        bool reloaded = false;           // its file was read for it
        bool draft = false;              // the camera's preview of a raw file
    };
    const Times& lastTimes() const { return lastTimes_; }

signals:
    // A new picture is on screen.
    void pictureShown();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // Asks for the picture of the shown image when it is not the one kept
    // or the adjustments changed.
    void askForPicture();
    void takePicture(PreviewPicture p);
    void makeStamp();
    // View units (origin lower left, y up) <-> widget pixels.
    QRectF toQt(const Rect& r) const;
    QPointF toView(const QPointF& p) const;

    JobSettings& settings_;
    CropViewState& state_;
    const CropWindow& model_;
    const ImagesList& list_;
    AlertPort& alerts_;
    CITextLayer* text_ = nullptr;
    CropViewGeometry geometry_;

    QImage picture_, stamp_;
    QImage arrowsImage_, arrowImage_;
    bool isCropImage_ = false;
    std::optional<std::uint32_t> lastFrame_; // the index asked for last
    QSize askedSize_;
    bool adjustmentsChanged_ = false;
    bool stampChanged_ = true;
    std::uint64_t waitingSerial_ = 0, shownSerial_ = 0;
    std::uint64_t failedSerial_ = 0; // alerted once per failed picture
    Times lastTimes_;

    enum class Drag { None, Move, Resize };
    Drag drag_ = Drag::None;
    QPointF previous_;

    std::unique_ptr<MainThread> main_;
    std::unique_ptr<PreviewLoader> loader_; // after main_: its thread ends first
};

} // namespace mv::shell
