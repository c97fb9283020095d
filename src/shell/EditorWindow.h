#pragma once
// The animation editor window: steps through the images, holds the preview
// on which the crop rectangle is drawn, and enters keyframes or reads them
// from an animation file. The keyframe rules are the model's (CropWindow);
// this window only wires its controls to it.
#include <QElapsedTimer>
#include <QWidget>

#include <cstdint>

#include "animation/EditorControls.h"

namespace mv {
class AlertPort;
class CropWindow;
class FileDialogPort;
struct CropViewState;
} // namespace mv

class QCheckBox;
class QScreen;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace mv::shell {

class CropView;
class KeyframePanel;
class MVWindow;

class EditorWindow : public QWidget {
    Q_OBJECT
public:
    EditorWindow(MVWindow& window, CropWindow& model, CropViewState& state, AlertPort& alerts,
                 FileDialogPort& dialogs);

    // Opens the editor for the current list. False (after an alert) when
    // there is nothing to show.
    bool createCropWindow();
    CropView* cropView() const { return cropView_; }

    // The controls' actions.
    void setFrameAction();
    void setRateAction();
    void setFPSAction();
    void setEnableFPSAction();
    void enterButtonAction();
    void readButtonAction();
    // Plays the movie's path in the preview, image after image at the
    // movie's frame rate or as fast as the pictures come; a key or a click
    // stops it.
    void play();
    void stopPlaying();
    bool isPlaying() const { return playing_; }
    void showKeyframes();
    KeyframePanel* keyframePanel() const { return keyframePanel_; }
    void undo();
    // Up, Down, Left or Right, with or without Alt. False for other keys.
    bool arrowKey(int key, bool option);
    // The rate label after the main window changed the rate; the stepper
    // keeps its value.
    void showRateLabel();
    // The controls whole over the lowest preview a resize leaves.
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void buildControls();
    // Frame label, title and preview after the shown image changed.
    void showFrame();
    void showRate();
    // Image `image` in the preview, the slider with it.
    void showImage(std::uint32_t image);
    void playStep();
    // After a keyframe was entered, removed or taken back.
    void keyframesEdited();
    // Read and File > Open Animation, while there is an animation file.
    void enableReading();
    // The preview at this size, and the window around it with the controls.
    void setContentSize(const editor::PreviewSize& preview);
    void placeControls();
    // The screen the window is on (the main window's until it is shown) and
    // the room it offers the window's content: its available area less the
    // window frame.
    QScreen* targetScreen() const;
    QRect contentRoom() const;
    // Moves the window's frame inside the screen's available area; the first
    // time over the middle of the main window.
    void placeOnScreen();

    MVWindow& window_;
    CropWindow& model_;
    CropViewState& state_;
    AlertPort& alerts_;
    FileDialogPort& dialogs_;

    CropView* cropView_ = nullptr;
    QWidget* controls_ = nullptr;
    QSlider *frameSlider_ = nullptr, *fpsSlider_ = nullptr;
    QLabel *frameText_ = nullptr, *fpsText_ = nullptr, *rateText_ = nullptr;
    QCheckBox* enableFPSCheckbox_ = nullptr;
    QSpinBox* rateStepper_ = nullptr;
    QPushButton *enterButton_ = nullptr, *readButton_ = nullptr, *playButton_ = nullptr, *keyframesButton_ = nullptr;
    KeyframePanel* keyframePanel_ = nullptr;
    QTimer* playTimer_ = nullptr;
    QElapsedTimer sinceStep_; // of the image played last
    bool playing_ = false;

    double aspect_ = 0.75; // height / width of the first image
    editor::PreviewSize preview_{0, 0};
    // A size the window set itself: not the user's resize.
    QSize ownSize_;
    bool adjusting_ = false;
    bool placed_ = false; // placed on a screen before
};

} // namespace mv::shell
