#include "shell/EditorWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "animation/CropWindow.h"
#include "animation/EditorControls.h"
#include "platform/picture/PictureProbe.h"
#include "platform/ports/UiPorts.h"
#include "shell/CropView.h"
#include "shell/KeyframePanel.h"
#include "shell/MVWindow.h"
#include "shell/WindowParts.h"

namespace mv::shell {
namespace {

// The FPS slider holds the exponent of 1.25 in thousandths, from 0.01 to 600
// frames per second.
constexpr double kFPSUnits = 1000;
const int kFPSMin = static_cast<int>(std::ceil(std::log(0.01) / std::log(1.25) * kFPSUnits));
const int kFPSMax = static_cast<int>(std::floor(std::log(600.0) / std::log(1.25) * kFPSUnits));

bool isArrow(int key) { return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right; }

} // namespace

EditorWindow::EditorWindow(MVWindow& window, CropWindow& model, CropViewState& state, AlertPort& alerts,
                           FileDialogPort& dialogs)
    // A window of its own, transient for the main window: the window manager
    // keeps it above the main window, and with it below another application
    // that becomes active. (Toggling a stay-on-top flag instead would hide
    // and show it again at every switch.)
    : QWidget(&window, Qt::Window), window_(window), model_(model), state_(state), alerts_(alerts),
      dialogs_(dialogs)
{
    setObjectName("CropWindow");
    setAttribute(Qt::WA_QuitOnClose, false); // closing only hides it
    cropView_ = new CropView(window.settings(), state, model, window.imagesList(), alerts, this);
    cropView_->setTextLayer(window.textLayer());
    buildControls();
    model_.setOnKeyframe([this](const frameS&, bool first) {
        // Keyframe rectangles are in this preview's units: the size stays.
        if (first)
            setFixedSize(size());
        keyframesEdited();
    });
    playTimer_ = new QTimer(this);
    connect(playTimer_, &QTimer::timeout, this, [this] { playStep(); });
    // A picture that came later than its frame's time goes on at once.
    connect(cropView_, &CropView::pictureShown, this, [this] {
        if (playing_ && sinceStep_.elapsed() >= playTimer_->interval())
            playStep();
    });
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this, [this] { undo(); });
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    const QRect room = contentRoom();
    setContentSize(editor::openPreviewSize(aspect_, editor::kOpenWidth, room.width(), room.height()));
}

void EditorWindow::buildControls()
{
    controls_ = new QWidget(this);
    controls_->setObjectName("editorControls");
    auto* grid = new QGridLayout(controls_);
    grid->setContentsMargins(10, 6, 10, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    frameText_ = new QLabel(controls_);
    frameText_->setObjectName("frameText");
    frameText_->setMinimumWidth(90);
    frameSlider_ = new QSlider(Qt::Horizontal, controls_);
    frameSlider_->setObjectName("frameSlider");
    frameSlider_->setRange(0, editor::kFrameSliderMax);
    frameSlider_->setPageStep(50);
    frameSlider_->setAccessibleName(wt("Frame:"));
    frameSlider_->setToolTip(tr("The image shown; Left and Right arrows step one image"));
    frameText_->setBuddy(frameSlider_);
    connect(frameSlider_, &QSlider::valueChanged, this, [this] { setFrameAction(); });

    fpsText_ = new QLabel(controls_);
    fpsText_->setObjectName("fpsText");
    fpsText_->setMinimumWidth(90);
    fpsSlider_ = new QSlider(Qt::Horizontal, controls_);
    fpsSlider_->setObjectName("fpsSlider");
    fpsSlider_->setRange(kFPSMin, kFPSMax);
    fpsSlider_->setSingleStep(static_cast<int>(editor::kFineFPSStep * kFPSUnits));
    fpsSlider_->setPageStep(static_cast<int>(kFPSUnits));
    fpsSlider_->setAccessibleName(tr("Animation FPS"));
    fpsSlider_->setToolTip(tr("Frame rate recorded with the next keyframe, for a variable frame rate movie"));
    fpsSlider_->setEnabled(false);
    fpsSlider_->setMinimumWidth(60); // still a slider in the narrowest window
    connect(fpsSlider_, &QSlider::valueChanged, this, [this] { setFPSAction(); });

    enableFPSCheckbox_ = new QCheckBox(tr("&Variable FPS"), controls_);
    enableFPSCheckbox_->setObjectName("enableFPSCheckbox");
    enableFPSCheckbox_->setAccessibleName(tr("Variable FPS"));
    enableFPSCheckbox_->setToolTip(tr("Let the keyframes set the movie's frame rate"));
    connect(enableFPSCheckbox_, &QCheckBox::clicked, this, [this] { setEnableFPSAction(); });

    rateText_ = new QLabel(controls_);
    rateText_->setObjectName("rateText");
    rateStepper_ = new QSpinBox(controls_);
    rateStepper_->setObjectName("rateStepper");
    rateStepper_->setRange(1, editor::kMaxRateStep);
    rateStepper_->setAccessibleName(tr("Rate"));
    rateStepper_->setToolTip(tr("Images advanced per movie frame from the next keyframe on; "
                                "Up and Down arrows step by 10 (100 with Alt)"));
    rateText_->setBuddy(rateStepper_);
    connect(rateStepper_, &QSpinBox::valueChanged, this, [this] { setRateAction(); });

    playButton_ = new QPushButton(tr("&Play"), controls_);
    playButton_->setObjectName("playButton");
    playButton_->setToolTip(tr("Play the movie's path from this image (Space); any key or click stops it"));
    connect(playButton_, &QPushButton::clicked, this, [this] { playing_ ? stopPlaying() : play(); });
    keyframesButton_ = new QPushButton(tr("&Keyframes…"), controls_);
    keyframesButton_->setObjectName("keyframesButton");
    keyframesButton_->setToolTip(tr("The list of keyframes, to go to one, remove it or undo (Alt+K)"));
    connect(keyframesButton_, &QPushButton::clicked, this, [this] { showKeyframes(); });

    readButton_ = new QPushButton(controls_);
    readButton_->setObjectName("readButton");
    readButton_->setToolTip(tr("Read the keyframes of an animation file (Alt+R)"));
    connect(readButton_, &QPushButton::clicked, this, [this] { readButtonAction(); });
    enterButton_ = new QPushButton(controls_);
    enterButton_->setObjectName("enterButton");
    enterButton_->setToolTip(
        tr("Record a keyframe: this image, the crop rectangle and the adjustments (Return or Alt+E)"));
    connect(enterButton_, &QPushButton::clicked, this, [this] { enterButtonAction(); });
    const QString enter = wt("Enter"), read = wt("Read");
    enterButton_->setText(enter.startsWith('E') ? "&" + enter : enter);
    readButton_->setText(read.startsWith('R') ? "&" + read : read);
    enterButton_->setAccessibleName(enter);
    readButton_->setAccessibleName(read);
    enterButton_->setDefault(true); // drawn as the button that Return presses
    // Tab goes through the controls as they are laid out. The arrow keys
    // still belong to the window (the event filter), whichever has the focus.
    const std::initializer_list<QWidget*> chain{frameSlider_, playButton_, keyframesButton_, fpsSlider_,
                                                enableFPSCheckbox_, rateStepper_, readButton_, enterButton_};
    QWidget* previous = nullptr;
    for (QWidget* w : chain) {
        w->setFocusPolicy(Qt::StrongFocus);
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    grid->addWidget(frameText_, 0, 0);
    grid->addWidget(frameSlider_, 0, 1, 1, 4);
    grid->addWidget(playButton_, 0, 5);
    grid->addWidget(keyframesButton_, 0, 6);
    grid->addWidget(fpsText_, 1, 0);
    grid->addWidget(fpsSlider_, 1, 1);
    grid->addWidget(enableFPSCheckbox_, 1, 2);
    grid->addWidget(rateText_, 1, 3);
    grid->addWidget(rateStepper_, 1, 4);
    grid->addWidget(readButton_, 1, 5);
    grid->addWidget(enterButton_, 1, 6);
    grid->setColumnStretch(1, 1);
    rateText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    frameText_->setText(wt("Frame:") + " 1");
    fpsText_->setText(QString::asprintf("FPS: %.1f", model_.sliderFPS));
    rateText_->setText(QString::asprintf("Rate: %dX", int(model_.rateSkip())));
}

bool EditorWindow::createCropWindow()
{
    JobSettings& s = window_.settings();
    const std::uint32_t n = s.numListImages;
    // 1. Nothing to show without images.
    if (n == 0 || window_.imagesList().imageFiles().empty()) {
        alerts_.alert(wt("List images first.").toStdString(), " ");
        return false;
    }
    // 2. Reading needs a file.
    enableReading();
    // 3. - 7.
    cropView_->resetCropImage();
    model_.createCropWindow();
    {
        QSignalBlocker b(frameSlider_);
        frameSlider_->setValue(0);
    }
    frameText_->setText(wt("Frame:") + " 1");
    model_.sliderFPS = s.mvFPS;
    fpsText_->setText(QString::asprintf("FPS: %.1f", model_.sliderFPS));
    {
        QSignalBlocker b(fpsSlider_);
        fpsSlider_->setValue(static_cast<int>(std::lround(editor::fpsSliderPosition(model_.sliderFPS) * kFPSUnits)));
        enableFPSCheckbox_->setChecked(s.isVariableFPS);
        fpsSlider_->setEnabled(s.isVariableFPS);
    }
    showRate();
    // 8. The first image's size sets the window's shape; its header is enough.
    const std::string first = window_.imagesList().imageFiles()[0];
    const auto picture = probePicture(first);
    const QString name = QFileInfo(QString::fromStdString(first)).fileName();
    if (!picture) {
        alerts_.alert(wt("Image display error.").toStdString(),
                      wt("Image %1 can not be rendered.").arg(name).toStdString());
        return false;
    }
    // 9. - 12.
    const double w = picture->width, h = picture->height;
    aspect_ = h / w;
    model_.firstImageName = name.toStdString();
    cropView_->setSourceSize(w, h);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QRect room = contentRoom();
    setContentSize(editor::openPreviewSize(aspect_, editor::kOpenWidth, room.width(), room.height()));
    // 13.
    setWindowTitle(name);
    if (!isVisible())
        rateStepper_->setFocus();
    placeOnScreen();
    show();
    raise();
    activateWindow();
    cropView_->update();
    return true;
}

void EditorWindow::setContentSize(const editor::PreviewSize& preview)
{
    const bool adjusting = adjusting_;
    adjusting_ = true;
    preview_ = preview;
    const auto content = editor::contentFor(preview, controls_->minimumSizeHint().width());
    ownSize_ = QSize(content.width, content.height);
    resize(ownSize_);
    setMinimumSize(minimumSizeHint());
    placeControls();
    adjusting_ = adjusting;
}

QSize EditorWindow::minimumSizeHint() const
{
    // The controls whole, over a preview as low as a resize may make it.
    const double previewH = std::min(preview_.height, editor::kMinPreviewHeight);
    return {controls_->minimumSizeHint().width(), static_cast<int>(std::lround(previewH + editor::kPreviewBottom))};
}

void EditorWindow::placeControls()
{
    // The preview at its own size, centred when the controls need more
    // width; the controls along the bottom.
    const int previewW = static_cast<int>(std::lround(preview_.width));
    const int previewH = static_cast<int>(std::lround(preview_.height));
    const int x = std::max(0, (width() - previewW) / 2);
    const int bottom = static_cast<int>(editor::kPreviewBottom);
    cropView_->setGeometry(x, 0, previewW, previewH);
    controls_->setGeometry(0, std::max(0, height() - bottom), width(), bottom);
    state_.frame = {double(x), editor::kPreviewBottom, double(previewW), double(previewH)};
}

QScreen* EditorWindow::targetScreen() const
{
    QScreen* s = placed_ ? screen() : window_.screen();
    return s ? s : QGuiApplication::primaryScreen();
}

QRect EditorWindow::contentRoom() const
{
    // The window manager's frame: this window's once it has one, else the
    // main window's, which the same window manager draws.
    const QWidget* framed = this;
    if (!isVisible() || frameGeometry() == geometry())
        framed = &window_;
    const QRect outer = framed->frameGeometry(), inner = framed->geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    return targetScreen()->availableGeometry().marginsRemoved(frame);
}

void EditorWindow::placeOnScreen()
{
    const QRect available = targetScreen()->availableGeometry(), room = contentRoom();
    const QSize frame = ownSize_ + (available.size() - room.size());
    // Over the middle of the main window the first time, as a window of its
    // own is placed; then where it was left.
    const QPoint at = placed_ ? frameGeometry().topLeft()
                              : window_.frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2);
    const auto corner = editor::cornerWithin(at.x(), at.y(), frame.width(), frame.height(), available.x(),
                                             available.y(), available.width(), available.height());
    move(corner.x, corner.y);
    placed_ = true;
}

void EditorWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (adjusting_ || size() == ownSize_) {
        placeControls();
        return;
    }
    // The user's resize: the side dragged sets the preview, the other side
    // follows the image's shape, and a new preview starts at its new size.
    const auto preview = editor::resizedPreviewSize(aspect_, ownSize_.width(), ownSize_.height(), width(), height());
    const bool changed = !(preview == preview_);
    setContentSize(preview);
    if (changed) {
        cropView_->resetCropImage();
        model_.windowResized();
    }
}

void EditorWindow::hideEvent(QHideEvent* e)
{
    stopPlaying(); // nobody to watch
    QWidget::hideEvent(e);
}

void EditorWindow::changeEvent(QEvent* e)
{
    // A movie being made disables the editor: its images are not stepped.
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        stopPlaying();
    QWidget::changeEvent(e);
}

void EditorWindow::showFrame()
{
    frameText_->setText(wt("Frame:") + " " + QString::number(model_.frame + 1));
    const auto& files = window_.imagesList().imageFiles();
    if (model_.frame < files.size())
        setWindowTitle(QFileInfo(QString::fromStdString(files[model_.frame])).fileName());
    cropView_->update();
}

void EditorWindow::showRate()
{
    QSignalBlocker b(rateStepper_);
    rateStepper_->setValue(model_.rateSkip());
    showRateLabel();
}

void EditorWindow::showRateLabel() { rateText_->setText(QString::asprintf("Rate: %dX", int(model_.rateSkip()))); }

void EditorWindow::setFrameAction()
{
    model_.frame = editor::frameAtSlider(window_.imagesList().fileCount(), frameSlider_->value());
    showFrame();
}

void EditorWindow::setRateAction()
{
    model_.setRateSkip(static_cast<std::uint16_t>(rateStepper_->value()));
    showRateLabel();
    window_.setRateFromEditor(model_.rateSkip());
}

void EditorWindow::setFPSAction()
{
    model_.sliderFPS = editor::fpsAtSlider(fpsSlider_->value() / kFPSUnits);
    fpsText_->setText(QString::asprintf("FPS: %.1f", model_.sliderFPS));
}

void EditorWindow::setEnableFPSAction()
{
    const bool on = enableFPSCheckbox_->isChecked();
    fpsSlider_->setEnabled(on);
    window_.settings().isVariableFPS = on;
    window_.keyframesChanged();
}

void EditorWindow::enableReading()
{
    const bool hasFile = !model_.animFile.empty() && std::filesystem::exists(model_.animFile);
    window_.enableAnimMenu(hasFile);
    readButton_->setEnabled(hasFile);
}

void EditorWindow::showImage(std::uint32_t image)
{
    const std::uint32_t n = window_.imagesList().fileCount();
    if (n == 0)
        return;
    model_.frame = std::min(image, n - 1);
    {
        QSignalBlocker b(frameSlider_);
        frameSlider_->setValue(editor::sliderAtFrame(model_.frame, n));
    }
    showFrame();
}

void EditorWindow::play()
{
    const std::uint32_t n = window_.imagesList().fileCount();
    if (playing_ || n < 2)
        return;
    if (model_.frame + 1 >= n)
        showImage(0); // from the start again
    playing_ = true;
    playButton_->setText(tr("Sto&p"));
    const float fps = window_.settings().mvFPS;
    playTimer_->start(std::max(1, static_cast<int>(1000 / std::max(0.01f, fps))));
}

void EditorWindow::stopPlaying()
{
    if (!playing_)
        return;
    playing_ = false;
    playTimer_->stop();
    playButton_->setText(tr("&Play"));
}

void EditorWindow::playStep()
{
    // The next image once this one is on the screen: never faster than the
    // pictures come.
    if (cropView_->isLoading())
        return;
    if (model_.frame + 1 >= window_.imagesList().fileCount()) {
        stopPlaying();
        return;
    }
    sinceStep_.start();
    showImage(model_.frame + 1);
}

void EditorWindow::showKeyframes()
{
    if (!keyframePanel_) {
        keyframePanel_ = new KeyframePanel(
            this, model_, [this](std::uint32_t image) { showImage(image); }, [this] { keyframesEdited(); });
        keyframePanel_->adjustSize();
        placeBeside(keyframePanel_, this);
    }
    keyframePanel_->refresh();
    keyframePanel_->show();
    keyframePanel_->raise();
}

void EditorWindow::undo()
{
    if (model_.undo())
        keyframesEdited();
}

void EditorWindow::keyframesEdited()
{
    if (keyframePanel_)
        keyframePanel_->refresh();
    enableReading();
    window_.keyframesChanged();
    cropView_->update();
}

void EditorWindow::enterButtonAction()
{
    if (model_.enterButtonAction())
        enableReading(); // the keyframe went into the animation file
    cropView_->update();
}

void EditorWindow::readButtonAction()
{
    std::string path;
    if (window_.settings().isSaveAnim) {
        FileDialogPort::OpenRequest r;
        r.title = "Select Animation File";
        r.message = "The selected animation file will establish the movie's animation sequence.";
        r.extensions = {"txt"};
        r.multipleFiles = false;
        r.canChooseFolders = false;
        const auto chosen = dialogs_.openFiles(r);
        if (!chosen || chosen->empty())
            return;
        path = chosen->front();
    } else if (model_.animFile.empty() || !std::filesystem::exists(model_.animFile)) {
        alerts_.alert(wt("Can not find animation file").toStdString(), " ");
        return;
    }
    model_.beginRead();
    if (!model_.readAnimFile(path))
        return;
    // The keyframes are in the units of the preview they were drawn on; the
    // preview takes that size as far as this screen has room for it.
    const Rect cv = model_.cvRect();
    if (cv.width > 0 && cv.height > 0) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        const QRect room = contentRoom();
        setContentSize(editor::heldPreviewSize(cv.width, cv.height, room.width(), room.height()));
        placeOnScreen();
        cropView_->resetCropImage();
        cropView_->setSourceSize(state_.srcRect.width, state_.srcRect.height);
    }
    alerts_.alert(wt("You can Create Movie now").toStdString(), wt("The animation sequence will be processed").toStdString());
    model_.setReadAnim();
    window_.showAdjustments();
    keyframesEdited();
}

bool EditorWindow::arrowKey(int key, bool option)
{
    const std::uint32_t n = window_.imagesList().fileCount();
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const std::uint16_t rate = key == Qt::Key_Up ? editor::rateAfterUp(model_.rateSkip(), option)
                                                     : editor::rateAfterDown(model_.rateSkip(), option);
        model_.setRateSkip(rate);
        showRate();
        window_.setRateFromEditor(model_.rateSkip());
        return true;
    }
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (key == Qt::Key_Left ? model_.frame == 0 : model_.frame + 1 >= n)
            return true;
        if (key == Qt::Key_Left)
            --model_.frame;
        else
            ++model_.frame;
        {
            QSignalBlocker b(frameSlider_);
            frameSlider_->setValue(editor::sliderAtFrame(model_.frame, n));
        }
        showFrame();
        return true;
    default:
        return false;
    }
}

void EditorWindow::keyPressEvent(QKeyEvent* e)
{
    // Return reaches the window from whichever control has the focus (the
    // Rate box takes its text first) and records a keyframe, as the Enter
    // button does. Held down it records one, not one per repeat.
    const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (playing_) {
        stopPlaying();
    } else if (e->key() == Qt::Key_Space && plain) {
        play();
    } else if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && plain) {
        if (!e->isAutoRepeat())
            enterButton_->click();
    } else {
        arrowKey(e->key(), e->modifiers().testFlag(Qt::AltModifier));
    }
    e->accept(); // other keys are ignored, not passed on
}

bool EditorWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (playing_ && (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress) &&
        watched != playButton_) {
        stopPlaying();
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (isArrow(k->key()))
            return arrowKey(k->key(), k->modifiers().testFlag(Qt::AltModifier));
        // Space plays from the slider, the rate box and the preview; a
        // button or a check box with the focus takes it as a press, as
        // everywhere.
        if (k->key() == Qt::Key_Space && k->modifiers() == Qt::NoModifier && !qobject_cast<QAbstractButton*>(watched)) {
            play();
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

} // namespace mv::shell
