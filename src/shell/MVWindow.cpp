#include "shell/MVWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QTimer>
#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <utility>

#include "platform/system/Localize.h"
#include "platform/system/Sound.h"
#include "render/FrameMaker.h"
#include "render/FramePreview.h"
#include "render/RunTexts.h"
#include "render/Smoothing.h"
#include "settings/MovieName.h"
#include "settings/Preferences.h"
#include "shell/AdjustmentPanel.h"
#include "shell/Application.h"
#include "shell/BrightnessPanel.h"
#include "shell/ConvertPanel.h"
#include "shell/CropView.h"
#include "animation/EditorControls.h"
#include "shell/EditorWindow.h"
#include "shell/FontColorPanels.h"
#include "shell/FramePreviewView.h"
#include "shell/ImageListView.h"
#include "shell/LayerModePanel.h"
#include "shell/MainThread.h"
#include "shell/ShellPorts.h"
#include "shell/WatermarkPanel.h"
#include "shell/WindowParts.h"

namespace fs = std::filesystem;

namespace mv::shell {

namespace {

// Tells when Return goes down and up in a text field: a combo box reports
// one Return there several times (activated twice, editingFinished), some
// after the entry has changed the box's text, and it is one entry.
class ReturnWatch : public QObject {
public:
    ReturnWatch(QObject* parent, std::function<void(bool)> held) : QObject(parent), held_(std::move(held)) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                held_(e->type() == QEvent::KeyPress);
        }
        return false;
    }

private:
    std::function<void(bool)> held_;
};

} // namespace
namespace {

QString mt(const char* key) { return QCoreApplication::translate("MVMenus", key); }

std::string translate(const char* table, const std::string& key)
{
    return QCoreApplication::translate(table, key.c_str()).toStdString();
}

// The title with a keyboard accelerator before the first `letter` (a
// translation without that letter keeps none).
QString withMnemonic(QString title, QChar letter)
{
    const int at = title.indexOf(letter);
    if (at >= 0)
        title.insert(at, '&');
    return title;
}

QString manualPath()
{
    // Installed with this program, else anywhere in the XDG data folders,
    // else the source tree's copy (a program run from its build folder).
    const QString beside = QCoreApplication::applicationDirPath() + "/../share/doc/moirevance/manual/index.html";
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, "doc/moirevance/manual/index.html");
    if (!installed.isEmpty())
        return installed;
    return QStringLiteral(MOIREVANCE_SOURCE_DIR "/docs/manual/index.html");
}

// The text of an editable box, with the list's matching entry current so
// that its popup opens on it.
void showComboText(QComboBox* box, const QString& text)
{
    if (const int i = box->findText(text); i >= 0)
        box->setCurrentIndex(i);
    box->setEditText(text);
}

// Puts a label and its control in a form row, with both named.
void addRow(QGridLayout* grid, int row, QLabel* label, QWidget* control, const char* labelName,
            const char* controlName)
{
    label->setObjectName(labelName);
    control->setObjectName(controlName);
    label->setBuddy(control);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
}

} // namespace

MVWindow::MVWindow(std::unique_ptr<PreferenceStore> store, QWidget* parent)
    : QMainWindow(parent), prefs_(store ? std::move(store) : openUserPreferences())
{
    setTranslator(&translate);
    setObjectName("MVWindow");
    setBaseTitle("Moirevance");
    setWindowIcon(QIcon::fromTheme("moirevance", appIcon()));

    buildWindow();
    main_ = std::make_unique<MainThread>(this);
    ports_ = std::make_unique<ShellPorts>(*this, *main_, listView_->lineHeight());
    buildMenus();
    buildPanels();

    // 1. Placement on the only screen.
    placeWindow();
    // 3. - 5. The data folder and its working files.
    files_ = prepareDataFolder();
    verifyList_ = std::make_unique<VerifyList>(files_ ? files_->verifyFile : std::string());
    verifyList_->setOnWrite([this] { ports_->enableVerifyMenu(true); });
    const std::string kml = files_ ? files_->kmlFile : std::string();
    list_ = std::make_unique<ImagesList>(settings_, *ports_, *ports_, *ports_, *ports_, *verifyList_, kml);
    cropWindow_ = std::make_unique<CropWindow>(settings_, *ports_, cropView_);
    run_ = std::make_unique<MovieRun>(settings_, *list_, *ports_, *ports_);
    run_->setAnimationEditor(cropWindow_.get(), &cropView_);
    textLayer_ = std::make_unique<CITextLayer>(*list_);
    framePreview_->setTextLayer(textLayer_.get());
    textLayer_->createAttributes();
    run_->setTextLayer(textLayer_.get());
    editor_ = new EditorWindow(*this, *cropWindow_, cropView_, *ports_, *ports_);
    append_ = std::make_unique<AppendMovies>(*ports_, *ports_, *ports_);
    append_->setCompletionSound([] { playCompletionSound(false); });
    append_->setBeep([] { QApplication::beep(); });
    convert_ = std::make_unique<Convert>(*ports_, *ports_, *ports_);
    if (files_) {
        cropWindow_->animFile = files_->animFile;
        enableAnimMenu(fs::exists(files_->animFile));
        enableVerifyMenu(fs::exists(files_->verifyFile));
    }
    cropWindow_->version = QCoreApplication::applicationVersion().toStdString();
    // 6. - 7. Start values and the adjustment panel.
    settings_ = JobSettings{};
    adjustmentPanel_->showAdjustments(true);
    // 10. The stored preferences.
    loadPrefs(*prefs_, settings_);
    // 11. - 15. The controls show the settings; 12. the text renderer gets its styles.
    showSettings();
    handWatermarkToRenderer();
    handStampStyleToRenderer();
    // 16. - 17.
    run_->moviePath = " ";
    run_->movieName = " ";
    setCreateEnable(false);
    enableLayerMenu(false);
    setCustomCropEnable(false);
    // 18. Quitting by other means than the window's close stops the movie too.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { stopAndSave(); });
    // 19.
    setTitles();
}

MVWindow::~MVWindow()
{
    stopAndSave();
    // The editor refers to the logic objects below.
    cropWindow_->setOnKeyframe(nullptr);
    delete editor_;
    editor_ = nullptr;
    // Pending calls of the workers refer to the widgets.
    convert_.reset();
    run_.reset();
}

// ---------------------------------------------------------------------------
// Building the window

void MVWindow::buildWindow()
{
    auto* central = new QWidget(this);
    auto* outer = new QHBoxLayout(central);

    // Left: the list and its count label.
    auto* left = new QVBoxLayout;
    auto* buttons = new QHBoxLayout;
    listImagesButton_ = new QPushButton(central);
    listImagesButton_->setObjectName("listImagesButton");
    listImagesButton_->setToolTip(tr("Empty the list and choose the images of the movie (Ctrl+O)"));
    createMovieButton_ = new QPushButton(central);
    createMovieButton_->setObjectName("createMovieButton");
    createMovieButton_->setToolTip(tr("Write the movie of the listed images; while it is written, stop it (Ctrl+R)"));
    createMovieButton_->setDefault(true);
    buttons->addWidget(listImagesButton_);
    buttons->addWidget(createMovieButton_);
    buttons->addStretch();
    left->addLayout(buttons);
    listView_ = new ImageListView(central);
    listView_->setMinimumSize(300, 260);
    left->addWidget(listView_, 1);
    auto* countRow = new QHBoxLayout;
    imagesText_ = new QLabel(central);
    imagesText_->setObjectName("imagesText");
    imagesText_->setToolTip(tr("How many images are listed; while a movie is made, which one is written"));
    sortProg_ = new QProgressBar(central);
    sortProg_->setObjectName("sortProg");
    sortProg_->setAccessibleName(tr("Sorting by date"));
    sortProg_->setRange(0, 0);
    sortProg_->setMaximumWidth(120);
    sortProg_->setMaximumHeight(12);
    sortProg_->setTextVisible(false);
    sortProg_->hide();
    countRow->addWidget(imagesText_, 1);
    countRow->addWidget(sortProg_);
    left->addLayout(countRow);
    outer->addLayout(left, 1);

    // Right: the movie's settings.
    auto* right = new QVBoxLayout;
    auto* grid = new QGridLayout;
    auto makeCombo = [&](bool editable) {
        auto* c = new QComboBox(central);
        c->setEditable(editable);
        if (editable)
            c->setInsertPolicy(QComboBox::NoInsert);
        c->setMinimumWidth(150);
        return c;
    };
    fpsText_ = new QLabel(central);
    fpsButton_ = makeCombo(true);
    fpsButton_->addItems({"1", "5", "10", "12", "15", "20", "24", "25", "29.97", "30", "50", "59.94", "60"});
    fpsButton_->setToolTip(tr("Frames per second of the movie (0.01 to 600)"));
    addRow(grid, 0, fpsText_, fpsButton_, "fpsText", "fpsButton");
    scaleText_ = new QLabel(central);
    scaleButton_ = makeCombo(true);
    scaleButton_->addItems({"25%", "33%", "50%", "66%", "75%", "100%"});
    for (std::size_t code = 1; code < sizePresets().size(); ++code) {
        const SizePreset& p = sizePresets()[code];
        scaleButton_->addItem(QString("%1  (%2 × %3)").arg(p.name).arg(p.width).arg(p.height));
    }
    scaleButton_->setToolTip(tr("Size of the movie: a percentage of the first image or a frame size"));
    addRow(grid, 1, scaleText_, scaleButton_, "scaleText", "scaleButton");
    codecText_ = new QLabel(central);
    codecButton_ = makeCombo(false);
    for (std::uint16_t code = kCodecJPEG; code <= kLastCodec; ++code)
        codecButton_->addItem(codecTitle(code), code);
    codecButton_->setToolTip(tr("Video codec of the movie"));
    addRow(grid, 2, codecText_, codecButton_, "codecText", "codecButton");
    depthButton_ = new QComboBox(central);
    depthButton_->setObjectName("depthButton");
    depthButton_->addItem(QString(), 8);
    depthButton_->addItem(QString(), 10);
    depthButton_->setToolTip(tr("Bits a sample: HEVC and AV1 can keep 10 of a 16-bit or raw picture's bits, for "
                                "skies without bands; ProRes is always 10-bit, the other codecs 8-bit"));
    grid->addWidget(depthButton_, 2, 2);
    qualityText_ = new QLabel(central);
    qualityButton_ = makeCombo(false);
    for (std::uint16_t code = kQualityLossless; code <= kQualityLow; ++code)
        qualityButton_->addItem(QString(), code);
    qualityButton_->setToolTip(tr("Picture quality against file size"));
    addRow(grid, 3, qualityText_, qualityButton_, "qualityText", "qualityButton");
    cropText_ = new QLabel(central);
    cropButton_ = makeCombo(false);
    for (std::uint16_t code = kCropTop; code <= kCropCustom; ++code)
        cropButton_->addItem(QString(), code);
    cropButton_->setToolTip(tr("Which part of the picture is kept when its shape differs from the movie's; "
                               "Custom follows keyframes"));
    addRow(grid, 4, cropText_, cropButton_, "cropText", "cropButton");
    rateText_ = new QLabel(central);
    rateButton_ = makeCombo(true);
    rateButton_->addItems({"1", "2", "3", "4", "5", "6", "8", "10", "12", "15", "20", "30"});
    rateButton_->setToolTip(tr("Use every n-th image; with Alt held while entering, show each image n times"));
    addRow(grid, 5, rateText_, rateButton_, "rateText", "rateButton");
    right->addLayout(grid);

    sortCheckbox_ = new QCheckBox(central);
    sortCheckbox_->setObjectName("sortCheckbox");
    sortCheckbox_->setToolTip(tr("Order the images by the capture date of their EXIF data"));
    dateCheckbox_ = new QCheckBox(central);
    dateCheckbox_->setObjectName("dateCheckbox");
    dateCheckbox_->setToolTip(tr("Stamp each frame with its image's capture date and time"));
    gpsCheckbox_ = new QCheckBox(central);
    gpsCheckbox_->setObjectName("gpsCheckbox");
    gpsCheckbox_->setToolTip(tr("Stamp each frame with its image's GPS position"));
    dateFontButton_ = new QPushButton(central);
    dateFontButton_->setObjectName("dateFontButton");
    dateFontButton_->setToolTip(tr("Font and colour of the date and GPS stamp"));
    right->addWidget(sortCheckbox_);
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(dateCheckbox_);
    dateRow->addStretch();
    dateRow->addWidget(dateFontButton_);
    right->addLayout(dateRow);
    right->addWidget(gpsCheckbox_);
    right->addSpacing(8);
    auto* toggles = new QHBoxLayout;
    filterToggle_ = new QPushButton(central);
    filterToggle_->setObjectName("filterPanelButton");
    filterToggle_->setToolTip(tr("Show or hide the picture adjustments (Ctrl+1)"));
    watermarkToggle_ = new QPushButton(central);
    watermarkToggle_->setObjectName("watermarkPanelButton");
    watermarkToggle_->setToolTip(tr("Show or hide the watermark settings (Ctrl+2)"));
    toggles->addWidget(filterToggle_);
    toggles->addWidget(watermarkToggle_);
    right->addLayout(toggles);
    right->addSpacing(4);
    framePreview_ = new FramePreviewView(central);
    right->addWidget(framePreview_, 1);
    outer->addLayout(right);
    connect(listView_, &ImageListView::lineChosen, this, [this](int line) { chooseImage(line); });

    timeRemainText_ = new QLabel(this);
    timeRemainText_->setObjectName("timeRemainText");
    timeRemainText_->setAccessibleName(tr("Status"));
    timeRemainText_->setMinimumWidth(300);
    timeRemainText_->setIndent(6);
    statusBar()->addWidget(timeRemainText_, 1);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName("progressBar");
    progressBar_->setAccessibleName(tr("Progress"));
    progressBar_->setRange(0, 1000);
    progressBar_->setMinimumWidth(220);
    progressBar_->hide();
    statusBar()->addPermanentWidget(progressBar_);
    statusBar()->setSizeGripEnabled(true);
    setCentralWidget(central);
    resize(640, 520);

    // Every control acts through mvAction by its tag.
    auto tagged = [](QObject* o, int tag) { o->setProperty("mvTag", tag); };
    tagged(createMovieButton_, 1);
    connect(createMovieButton_, &QPushButton::clicked, this, [this] { mvAction(1); });
    connect(listImagesButton_, &QPushButton::clicked, this, [this] { mvAction(7); });
    connect(codecButton_, &QComboBox::activated, this, [this] { mvAction(3); });
    connect(depthButton_, &QComboBox::activated, this, [this] {
        settings_.depth = static_cast<std::uint16_t>(depthButton_->currentData().toUInt());
        run_->hasMovieName = false;
    });
    connect(qualityButton_, &QComboBox::activated, this, [this] { mvAction(4); });
    connect(cropButton_, &QComboBox::activated, this, [this] { mvAction(8); });
    // A box acts on a new text, once per Return however many signals report
    // it. The Rate box also acts on an entry of the text it shows: entering 1
    // undoes an Alt-entered count, which leaves "1" there. (The same FPS or
    // scale again changes nothing, and would reopen the editor without its
    // keyframes.)
    for (const auto& entry : {std::pair{fpsButton_, 2}, {scaleButton_, 6}, {rateButton_, 9}}) {
        QComboBox* combo = entry.first;
        const int tag = entry.second;
        combo->lineEdit()->installEventFilter(new ReturnWatch(combo, [this, combo](bool down) {
            returnEntry_ = down ? combo : nullptr;
            returnActed_ = false;
            if (down) // ends with the key's handling too, should its release go elsewhere
                QMetaObject::invokeMethod(
                    this, [this, combo] { returnEntry_ = returnEntry_ == combo ? nullptr : returnEntry_; },
                    Qt::QueuedConnection);
        }));
        const bool everyEntry = combo == rateButton_;
        auto act = [this, combo, tag, everyEntry](bool entry) {
            const bool changed = lastComboText_[combo] != combo->currentText();
            if (returnEntry_ == combo && std::exchange(returnActed_, true))
                return; // this Return was answered
            if (changed || (everyEntry && (entry || returnEntry_ == combo)))
                mvAction(tag);
            showComboText(combo, combo->currentText());
        };
        connect(combo, &QComboBox::activated, this, [act] { act(true); });
        connect(combo->lineEdit(), &QLineEdit::editingFinished, this, [act] { act(false); });
    }
    connect(sortCheckbox_, &QCheckBox::clicked, this, [this] { mvAction(10); });
    connect(dateCheckbox_, &QCheckBox::clicked, this, [this] { mvAction(11); });
    connect(gpsCheckbox_, &QCheckBox::clicked, this, [this] { mvAction(12); });
    connect(dateFontButton_, &QPushButton::clicked, this, [this] { mvAction(13); });
    connect(filterToggle_, &QPushButton::clicked, this, [this] { mvFilters(20); });
    connect(watermarkToggle_, &QPushButton::clicked, this, [this] { mvFilters(21); });
    connect(listView_, &ImageListView::filesDropped, this, &MVWindow::listPaths);
}

void MVWindow::buildMenus()
{
    auto add = [this](QMenu* menu, int tag, const QKeySequence& keys, void (MVWindow::*dispatch)(int)) {
        auto* a = menu->addAction(QString());
        a->setData(tag);
        if (!keys.isEmpty())
            a->setShortcut(keys);
        connect(a, &QAction::triggered, this, [this, tag, dispatch] { (this->*dispatch)(tag); });
        return a;
    };
    fileMenu_ = menuBar()->addMenu(QString());
    fileMenu_->setObjectName("fileMenu");
    fileItems_[2] = add(fileMenu_, 2, QKeySequence::Open, &MVWindow::mvMenu);
    fileItems_[10] = add(fileMenu_, 10, QKeySequence(tr("Ctrl+L")), &MVWindow::mvMenu);
    fileMenu_->addSeparator();
    fileItems_[4] = add(fileMenu_, 4, QKeySequence(tr("Ctrl+R")), &MVWindow::mvMenu);
    fileItems_[5] = add(fileMenu_, 5, QKeySequence(tr("Ctrl+Shift+S")), &MVWindow::mvMenu);
    fileMenu_->addSeparator();
    fileItems_[6] = add(fileMenu_, 6, QKeySequence(), &MVWindow::mvMenu);
    fileItems_[8] = add(fileMenu_, 8, QKeySequence(), &MVWindow::mvMenu);
    // The item with Alt held deletes the file; window managers may keep Alt
    // clicks for themselves, so the keyboard offers it too.
    auto* deleteVerify = new QShortcut(QKeySequence(tr("Ctrl+Alt+Shift+V")), this);
    connect(deleteVerify, &QShortcut::activated, this, [this] {
        if (fileItems_[8]->isEnabled())
            mvMenu(8);
    });
    fileMenu_->addSeparator();
    fileItems_[9] = add(fileMenu_, 9, QKeySequence(), &MVWindow::mvMenu);
    // The movie-to-frames tool belongs to the converter, not to the window.
    auto* frames = fileMenu_->addAction(QString());
    frames->setObjectName("movieToFramesItem");
    connect(frames, &QAction::triggered, this, [this] {
        // Its dialogs come to the main thread; reading the movie's frame
        // times, which takes long for a long movie, stays on a worker.
        if (convert_->isPanelVisible()) {
            convert_->convAction(); // stops the running conversion
            return;
        }
        if (converting_)
            return;
        if (convertWorker_.joinable())
            convertWorker_.join();
        converting_ = true;
        convertWorker_ = std::thread([this] {
            convert_->convAction();
            converting_ = false;
        });
    });
    fileItems_[11] = frames;
    fileMenu_->addSeparator();
    fileItems_[3] = add(fileMenu_, 3, QKeySequence::Close, &MVWindow::mvMenu);
    auto* quit = fileMenu_->addAction(QString());
    quit->setShortcut(QKeySequence::Quit);
    quit->setObjectName("quitItem");
    connect(quit, &QAction::triggered, this, &QWidget::close);
    fileItems_[12] = quit;

    windowMenu_ = menuBar()->addMenu(QString());
    windowMenu_->setObjectName("windowMenu");
    auto* minimize = windowMenu_->addAction(QString(), QKeySequence(tr("Ctrl+M")), this, &QWidget::showMinimized);
    minimize->setData(1);
    auto* zoom = windowMenu_->addAction(QString(), this, [this] { isMaximized() ? showNormal() : showMaximized(); });
    zoom->setData(2);
    auto* front = windowMenu_->addAction(QString(), this, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                w->raise();
    });
    front->setData(3);
    windowMenu_->addSeparator();
    auto* adj = windowMenu_->addAction(QString(), QKeySequence(tr("Ctrl+1")), this, [this] { mvFilters(20); });
    adj->setData(20);
    auto* wm = windowMenu_->addAction(QString(), QKeySequence(tr("Ctrl+2")), this, [this] { mvFilters(21); });
    wm->setData(21);

    helpMenu_ = menuBar()->addMenu(QString());
    helpMenu_->setObjectName("helpMenu");
    add(helpMenu_, 1, QKeySequence::HelpContents, &MVWindow::mvMenu);
    helpMenu_->addSeparator();
    appMenu_ = helpMenu_;
    auto* about = helpMenu_->addAction(QString(), this, [this] {
        QMessageBox::about(this, tr("About Moirevance"),
                           tr("<h3>Moirevance %1</h3><p>Turns a list of still images into a movie.</p>")
                               .arg(QCoreApplication::applicationVersion()));
    });
    about->setData(-1);
    about->setObjectName("aboutItem");
}

void MVWindow::buildPanels()
{
    adjustmentPanel_ = new AdjustmentPanel(settings_, this);
    connect(adjustmentPanel_, &AdjustmentPanel::command, this, &MVWindow::mvFilters);
    connect(adjustmentPanel_, &AdjustmentPanel::brightnessWanted, this, &MVWindow::showBrightnessPanel);
    // The keyframes change in the editor, another window.
    connect(adjustmentPanel_, &AdjustmentPanel::activated, this, &MVWindow::showKeyframesNote);
    watermarkPanel_ = new WatermarkPanel(settings_, this);
    connect(watermarkPanel_, &WatermarkPanel::command, this, &MVWindow::mvWatermarkAction);
    layerModePanel_ = new LayerModePanel(this);
    connect(layerModePanel_, &LayerModePanel::modeChosen, this, &MVWindow::mvLayerModeAction);
    convertPanel_ = new ConvertPanel(this);
    connect(convertPanel_, &ConvertPanel::stopClicked, this, [this] { convert_->stopConversion(); });
    connect(convertPanel_, &QDialog::finished, this, [this] { convert_->panelClosed(); });
    fontColorPanels_ = new FontColorPanels(settings_, this, watermarkPanel_);
    connect(fontColorPanels_, &FontColorPanels::styleChanged, this, [this](FontColorPanels::Target target) {
        switch (target) {
        case FontColorPanels::Target::Watermark:
            handWatermarkToRenderer();
            break;
        case FontColorPanels::Target::Stamp:
            handStampStyleToRenderer();
            break;
        case FontColorPanels::Target::Tint:
            settings_.isFilterChange = true;
            break;
        }
        redrawPreview();
    });
    connect(watermarkPanel_, &QDialog::finished, fontColorPanels_, &FontColorPanels::watermarkClosed);
}

void MVWindow::placeWindow()
{
    const auto screens = QGuiApplication::screens();
    if (screens.size() != 1)
        return;
    const QRect avail = screens.front()->availableGeometry();
    // Smaller on a small screen (the list gives way, down to what the
    // controls need), and never above its top: the title bar stays reachable.
    const QSize decoration = frameGeometry().size() - size();
    const QSize least = minimumSizeHint();
    resize(std::max(std::min(width(), avail.width() - decoration.width()), least.width()),
           std::max(std::min(height(), avail.height() - decoration.height()), least.height()));
    const QRect frame = frameGeometry();
    if (!avail.contains(frame)) {
        const auto corner = editor::cornerWithin(avail.left() + 30, avail.top() + avail.height() - 30 - frame.height(),
                                                 frame.width(), frame.height(), avail.x(), avail.y(), avail.width(),
                                                 avail.height());
        move(corner.x, corner.y);
    }
}

void MVWindow::showSettings()
{
    watermarkPanel_->showSettings();
    adjustmentPanel_->showSettings();
    {
        QSignalBlocker b(scaleButton_);
        if (settings_.format > 0 && settings_.format < sizePresets().size())
            scaleButton_->setCurrentIndex(settings_.format + kPresetComboOffset);
        else
            showComboText(scaleButton_, QString::fromStdString(settings_.scaleText()));
    }
    showComboText(fpsButton_, QString::fromStdString(settings_.fpsText()));
    showComboText(rateButton_, QString::number(settings_.rate));
    codecButton_->setCurrentIndex(codecButton_->findData(settings_.codec));
    showDepth();
    qualityButton_->setCurrentIndex(qualityButton_->findData(settings_.quality));
    cropButton_->setCurrentIndex(cropButton_->findData(settings_.crop == kCropCustom ? std::uint16_t(kCropMiddle) : settings_.crop));
    sortCheckbox_->setChecked(settings_.isDateSort);
    dateCheckbox_->setChecked(settings_.isDateStamped);
    gpsCheckbox_->setChecked(settings_.isGPS);
    for (QComboBox* c : {fpsButton_, scaleButton_, rateButton_})
        lastComboText_[c] = c->currentText();
}

// The depth the movie will have; only HEVC and AV1 let the person choose.
void MVWindow::showDepth()
{
    depthButton_->setCurrentIndex(movieDepth(settings_) == 10 ? 1 : 0);
    depthButton_->setEnabled(runControlsOn_ && !listing_ && codecTakesDepth(settings_.codec));
}

void MVWindow::setTitles()
{
    auto title = [](QAbstractButton* b, const QString& t, QChar key = QChar()) {
        b->setText(key.isNull() ? t : withMnemonic(t, key));
        b->setAccessibleName(t);
    };
    auto label = [](QLabel* l, QWidget* control, const QString& t, QChar key = QChar()) {
        l->setText(key.isNull() ? t : withMnemonic(t, key));
        l->setAccessibleName(t);
        if (control)
            control->setAccessibleName(QString(t).remove(':'));
        // A screen reader reads the text field of an editable box, not the box.
        if (auto* box = qobject_cast<QComboBox*>(control); box && box->lineEdit())
            box->lineEdit()->setAccessibleName(QString(t).remove(':'));
    };
    label(imagesText_, nullptr, wt("Images:"));
    title(listImagesButton_, wt("List Images"), 'L');
    title(createMovieButton_, wt("Create Movie"), 'C');
    label(fpsText_, fpsButton_, wt("FPS:"), 'P');
    label(scaleText_, scaleButton_, wt("Scale:"), 'S');
    label(codecText_, codecButton_, wt("Codec:"), 'o');
    depthButton_->setItemText(0, tr("8-bit"));
    depthButton_->setItemText(1, tr("10-bit"));
    depthButton_->setAccessibleName(tr("Depth"));
    label(qualityText_, qualityButton_, wt("Quality:"), 'Q');
    const char* qualities[] = {"Lossless", "Max", "High", "Normal", "Low"};
    for (int i = 0; i < 5; ++i)
        qualityButton_->setItemText(i, wt(qualities[i]));
    label(cropText_, cropButton_, wt("Crop:"), 'r');
    const char* crops[] = {"Top", "Middle", "Bottom", "Custom"};
    for (int i = 0; i < 4; ++i)
        cropButton_->setItemText(i, wt(crops[i]));
    label(rateText_, rateButton_, wt("Rate:"), 'a');
    title(sortCheckbox_, wt("Sort by Image Date"), 'D');
    title(dateCheckbox_, wt("Date/Time"), 'T');
    title(gpsCheckbox_, wt("GPS Location"), 'G');
    title(dateFontButton_, wt("Stamp Font…"), 'n');
    title(filterToggle_, wt("Adjustments"), 'j');
    title(watermarkToggle_, wt("Watermark"), 'k');
    fontColorPanels_->retitle();

    fileMenu_->setTitle(mt("&File"));
    windowMenu_->setTitle(mt("&Window"));
    helpMenu_->setTitle(mt("&Help"));
    const std::pair<int, const char*> fileTitles[] = {
        {2, "List Images..."},  {3, "Close"},           {4, "Create Movie"},       {5, "Save As..."},
        {6, "Open Animation"},  {8, "Open Verify List"}, {9, "Append Movies..."},   {10, "Layer Images..."},
        {11, "Movie to Frames..."}, {12, "Quit"}};
    for (auto [tag, t] : fileTitles) {
        fileItems_[tag]->setText(mt(t));
        fileItems_[tag]->setObjectName(fileItems_[tag]->objectName().isEmpty() ? "fileItem" + QString::number(tag)
                                                                                 : fileItems_[tag]->objectName());
    }
    fileItems_[8]->setToolTip(tr("Open the list of image problems; with Alt held, delete it"));
    // Every control is found by its title, by screen readers and by tests.
    for (QWidget* top : std::initializer_list<QWidget*>{this, adjustmentPanel_, watermarkPanel_, layerModePanel_,
                                                        convertPanel_}) {
        for (auto* b : top->findChildren<QAbstractButton*>())
            if (b->accessibleName().isEmpty())
                b->setAccessibleName(b->text().remove('&'));
        // Enter in a panel's text field acts on the field, not on a button.
        if (top != this)
            for (auto* b : top->findChildren<QPushButton*>())
                b->setAutoDefault(false);
        for (auto* l : top->findChildren<QLabel*>())
            if (l->buddy() && l->buddy()->accessibleName().isEmpty())
                l->buddy()->setAccessibleName(l->text().remove('&').remove(':'));
    }
    const char* windowTitles[] = {"Minimize", "Zoom", "Bring All to front"};
    for (QAction* a : windowMenu_->actions()) {
        const int tag = a->data().toInt();
        if (tag >= 1 && tag <= 3)
            a->setText(mt(windowTitles[tag - 1]));
        else if (tag == 20)
            a->setText(mt("Adjustments"));
        else if (tag == 21)
            a->setText(mt("Watermark"));
    }
    for (QAction* a : helpMenu_->actions()) {
        if (a->data().toInt() == 1)
            a->setText(mt("Moirevance Manual"));
        else if (a->data().toInt() == -1)
            a->setText(mt("About Moirevance..."));
    }
}

// ---------------------------------------------------------------------------
// Helpers

bool MVWindow::optionHeld() const
{
    if (optionOverride_)
        return *optionOverride_;
    // The modifiers of the event being handled, not the keyboard's state now:
    // on a busy machine Alt may be up again before the keypress is handled.
    return QGuiApplication::keyboardModifiers() & Qt::AltModifier;
}

void MVWindow::showLength(unsigned n)
{
    JobSettings copy = settings_;
    copy.numListImages = n;
    // Keyframes set the pace of an animated movie.
    std::vector<KeyframeMark> marks;
    if (settings_.crop == kCropCustom && cropWindow_ && cropWindow_->isAnimation())
        for (const frameS& k : cropWindow_->frameArray())
            marks.push_back({k.frame, k.rate});
    const std::string text = calcMovieLength(copy, marks);
    settings_.durationHour = copy.durationHour;
    settings_.durationMin = copy.durationMin;
    settings_.durationSec = copy.durationSec;
    setStatusText(QString::fromStdString(text));
}

void MVWindow::rereadRate()
{
    // Only the rate: a duplicate count entered with Alt stays.
    const auto dup = settings_.dupImages;
    settings_.enterRate(rateButton_->currentText().toStdString(), false);
    settings_.dupImages = dup;
}

void MVWindow::redrawPreview()
{
    if (editor_ && editor_->isVisible())
        editor_->cropView()->settingsChanged();
    refreshFramePreview();
}

void MVWindow::chooseImage(int index)
{
    // While a movie is made the list follows it; while one is listed the
    // list is the worker's.
    if (listing_ || (run_ && run_->isCreatingMovie()) || index < 0 || unsigned(index) >= list_->fileCount())
        return;
    listView_->setChosenLine(index);
    list_->selectFile(unsigned(index));
    refreshFramePreview();
}

void MVWindow::refreshFramePreview()
{
    const int index = listView_->chosenLine();
    if (!framePreview_ || listing_ || (run_ && run_->isCreatingMovie()) || index < 0 ||
        unsigned(index) >= list_->fileCount())
        return;
    FramePreviewRequest r = framePreviewRequest(settings_, *list_, cropWindow_.get(), &cropView_, unsigned(index));
    // Deflicker's gain once the Brightness panel has measured the list.
    if (settings_.isDeflicker && brightnessPanel_ && unsigned(index) < brightnessPanel_->gains().size())
        r.deflickerEV = brightnessPanel_->gains()[unsigned(index)];
    framePreview_->show(std::move(r));
}

void MVWindow::setRateFromEditor(std::uint16_t rate)
{
    settings_.rate = rate;
    showComboText(rateButton_, QString::number(rate));
    lastComboText_[rateButton_] = rateButton_->currentText();
    run_->hasMovieName = false;
    keyframesChanged();
}

// The manual in a window of its own: a machine may have no web browser.
void MVWindow::showManual()
{
    if (!manualWindow_) {
        manualWindow_ = new QDialog(this, Qt::Window);
        manualWindow_->setObjectName("manualWindow");
        manualWindow_->setWindowTitle(tr("Moirevance Manual"));
        auto* v = new QVBoxLayout(manualWindow_);
        auto* text = new QTextBrowser(manualWindow_);
        text->setObjectName("manualText");
        text->setOpenExternalLinks(true);
        text->setSource(QUrl::fromLocalFile(manualPath()));
        v->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, manualWindow_);
        auto* browser = buttons->addButton(tr("Open in Web Browser"), QDialogButtonBox::ActionRole);
        browser->setToolTip(tr("Show the manual in the desktop's web browser"));
        connect(browser, &QPushButton::clicked, this,
                [] { QDesktopServices::openUrl(QUrl::fromLocalFile(manualPath())); });
        connect(buttons, &QDialogButtonBox::rejected, manualWindow_, &QDialog::hide);
        v->addWidget(buttons);
        const QRect avail = screen()->availableGeometry();
        manualWindow_->resize(std::min(820, avail.width() - 40), std::min(760, avail.height() - 60));
    }
    showInFront(manualWindow_);
}

void MVWindow::keyframesChanged()
{
    refreshFramePreview();
    showKeyframesNote();
    if (settings_.numListImages > 0)
        showLength(settings_.numListImages);
}

void MVWindow::openWithDesktop(const std::string& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void MVWindow::showProgress(const Progress& p)
{
    const bool on = p.fraction >= 0;
    progressBar_->setVisible(on);
    if (on) {
        progressBar_->setFormat(QString::fromStdString(progressText(p)));
        progressBar_->setValue(static_cast<int>(std::clamp(p.fraction, 0.0, 1.0) * 1000));
    }
    refreshTitle();
}

void MVWindow::setBaseTitle(const QString& title)
{
    baseTitle_ = title;
    refreshTitle();
}

void MVWindow::refreshTitle()
{
    const bool progress = progressBar_ && progressBar_->isVisible() && !isActiveWindow();
    setWindowTitle(progress ? QString("%1 % \u2014 %2").arg(progressBar_->value() / 10).arg(baseTitle_) : baseTitle_);
}

void MVWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange)
        refreshTitle();
    QMainWindow::changeEvent(event);
}

void MVWindow::setStatusText(const QString& text)
{
    timeRemainText_->setText(text);
    timeRemainText_->setAccessibleDescription(text);
}

// ---------------------------------------------------------------------------
// Enabling rules

void MVWindow::refreshCreateEnable()
{
    const bool running = run_ && run_->isCreatingMovie();
    const bool on = !stopping_ && (running || (createWanted_ && !listing_));
    createMovieButton_->setEnabled(on);
    fileItems_[4]->setEnabled(on);
}

void MVWindow::setCreateEnable(bool on)
{
    createWanted_ = on;
    refreshCreateEnable();
}

void MVWindow::showBrightnessPanel()
{
    if (!brightnessPanel_) {
        brightnessPanel_ = new BrightnessPanel(
            this, [this] { return list_->imageFiles(); }, [this] { return unsigned(settings_.deflickerWindow); });
        connect(brightnessPanel_, &BrightnessPanel::gainsChanged, this, [this] { refreshFramePreview(); });
        placeBeside(brightnessPanel_, adjustmentPanel_);
    }
    showInFront(brightnessPanel_);
}

void MVWindow::setNumList(unsigned n)
{
    settings_.numListImages = n;
    if (brightnessPanel_)
        brightnessPanel_->listChanged();
    if (n == 0)
        return;
    showLength(n);
}

void MVWindow::setDateEnable(bool on)
{
    if (!on) {
        dateCheckbox_->setChecked(false);
        settings_.isDateStamped = false;
    }
    dateCheckbox_->setEnabled(on);
    dateFontButton_->setEnabled(on);
}

void MVWindow::setGPSEnable(bool on)
{
    if (!on) {
        gpsCheckbox_->setChecked(false);
        settings_.isGPS = false;
    }
    gpsCheckbox_->setEnabled(on);
}

void MVWindow::setTimeRangeChecked(bool on) { adjustmentPanel_->setTimeRangeChecked(on); }

void MVWindow::setDateSortEnable(bool on)
{
    if (!on) {
        sortCheckbox_->setChecked(false);
        settings_.isDateSort = false;
    }
    dateSortAllowed_ = on;
    sortCheckbox_->setEnabled(on && !listing_);
}

void MVWindow::setCustomCropEnable(bool on)
{
    auto* model = qobject_cast<QStandardItemModel*>(cropButton_->model());
    if (model)
        model->item(3)->setEnabled(on);
    if (!on) {
        settings_.crop = kCropMiddle;
        cropButton_->setCurrentIndex(1);
        if (editor_)
            editor_->hide();
    }
}

void MVWindow::enableAnimMenu(bool on) { fileItems_[6]->setEnabled(on); }
void MVWindow::enableVerifyMenu(bool on) { fileItems_[8]->setEnabled(on); }

void MVWindow::enableLayerMenu(bool on) { fileItems_[10]->setEnabled(on); }

void MVWindow::setRunControlsEnabled(bool on)
{
    runControlsOn_ = on;
    const bool controls = on && !listing_;
    // A movie being made reads the keyframes, the rectangle and the rate:
    // the editor only shows them meanwhile.
    if (editor_)
        editor_->setEnabled(on);
    for (QWidget* w : std::initializer_list<QWidget*>{listImagesButton_, fpsButton_, scaleButton_, codecButton_,
                                                      qualityButton_, cropButton_, rateButton_})
        w->setEnabled(controls);
    depthButton_->setEnabled(controls && codecTakesDepth(settings_.codec));
    // Sorting builds the list again: not while it is being built.
    sortCheckbox_->setEnabled(dateSortAllowed_ && !listing_);
    fileItems_[2]->setEnabled(controls);
    fileItems_[9]->setEnabled(controls && !appending_);
    listView_->setAcceptingDrops(controls && !settings_.isElCapitan);
    refreshCreateEnable();
}

// ---------------------------------------------------------------------------
// Listing images off the main thread

void MVWindow::startListing(std::function<void()> job)
{
    if (listing_ || (run_ && run_->isCreatingMovie()))
        return;
    if (listWorker_.joinable())
        listWorker_.join();
    listing_ = true;
    // The list is the worker's now: the editor's preview must not read it.
    if (editor_)
        editor_->hide();
    listView_->setChosenLine(-1);
    framePreview_->clear();
    setRunControlsEnabled(runControlsOn_);
    sortProg_->setVisible(settings_.isDateSort);
    listWorker_ = std::thread([this, job = std::move(job)] {
        job();
        main_->post([this] { finishListing(); });
    });
}

void MVWindow::finishListing()
{
    if (listWorker_.joinable())
        listWorker_.join();
    listing_ = false;
    sortProg_->hide();
    setRunControlsEnabled(runControlsOn_);
    if (settings_.crop == kCropCustom && list_->fileCount() > 0)
        editor_->createCropWindow();
}

void MVWindow::listPaths(const QStringList& paths)
{
    std::vector<std::string> files;
    for (const QString& p : paths)
        files.push_back(p.toStdString());
    startListing([this, files] { list_->processImageList(files); });
}

// ---------------------------------------------------------------------------
// mvAction: the window's controls

void MVWindow::createOrStop(bool fromMenu)
{
    if (run_->isCreatingMovie()) {
        if (stopping_)
            return;
        stopping_ = true;
        createMovieButton_->setEnabled(false);
        fileItems_[4]->setEnabled(false);
        if (stopWorker_.joinable())
            stopWorker_.join(); // an earlier stop, long finished
        setStatusText(tr("Finishing the movie…"));
        stopWorker_ = std::thread([this, shown = shownImage_] {
            run_->stopMovie(shown);
            main_->post([this] {
                stopping_ = false;
                refreshCreateEnable();
            });
        });
        return;
    }
    // A worker still asking a question, or a list being built, must end first.
    if (listing_ || main_->hasWaitingWorker())
        return;
    hideIfVisible(layerModePanel_);
    if (!fromMenu) {
        if (settings_.useWatermark)
            handWatermarkToRenderer();
        if (settings_.isDateStamped || settings_.isGPS)
            handStampStyleToRenderer();
    }
    rereadRate();
    shownImage_.reset();
    if (run_->createCommand(ports_.get()))
        refreshCreateEnable();
}

void MVWindow::mvAction(int tag)
{
    fontColorPanels_->forgetStamp();
    QTimer::singleShot(0, this, [this] { // once the action has had its effect
        showKeyframesNote();
        refreshFramePreview();
    });
    // The list being built is the listing worker's until it ends.
    if (listing_ && (tag == 8 || tag == 9 || tag == 10))
        return;
    switch (tag) {
    case 1:
        createOrStop(false);
        break;
    case 2:
        settings_.enterFPS(fpsButton_->currentText().toStdString());
        lastComboText_[fpsButton_] = fpsButton_->currentText();
        run_->hasMovieName = false;
        if (settings_.numListImages == 0)
            break;
        showLength(settings_.numListImages);
        if (settings_.crop == kCropCustom)
            editor_->createCropWindow();
        break;
    case 3:
        settings_.codec = static_cast<std::uint16_t>(codecButton_->currentData().toUInt());
        run_->hasMovieName = false;
        showDepth();
        break;
    case 4:
        settings_.quality = static_cast<std::uint16_t>(qualityButton_->currentData().toUInt());
        run_->hasMovieName = false;
        break;
    case 6: {
        const QString text = scaleButton_->currentText();
        const int position = text == scaleButton_->itemText(scaleButton_->currentIndex())
                                 ? scaleButton_->currentIndex()
                                 : -1;
        settings_.chooseScale(position, text.toStdString());
        lastComboText_[scaleButton_] = text;
        run_->hasMovieName = false;
        if (settings_.crop == kCropCustom)
            editor_->createCropWindow();
        else
            editor_->hide();
        break;
    }
    case 7:
        if (listing_)
            break;
        hideIfVisible(layerModePanel_);
        list_->clearList();
        startListing([this] { list_->selectFiles(); });
        break;
    case 8:
        settings_.crop = static_cast<std::uint16_t>(cropButton_->currentData().toUInt());
        if (settings_.crop != kCropCustom) {
            cropWindow_->resetAnim();
            editor_->hide();
        } else if (list_->fileCount() > 0) {
            editor_->createCropWindow();
        } else {
            settings_.crop = kCropMiddle;
            cropButton_->setCurrentIndex(1);
            ports_->alert(windowText("List images first."), " ", false);
        }
        rereadRate();
        break;
    case 9:
        settings_.enterRate(rateButton_->currentText().toStdString(), optionHeld());
        if (settings_.dupImages > 1)
            showComboText(rateButton_, "1");
        lastComboText_[rateButton_] = rateButton_->currentText();
        run_->hasMovieName = false;
        cropWindow_->setRateSkip(settings_.rate);
        if (editor_)
            editor_->showRateLabel();
        if (list_->fileCount() > 0)
            showLength(list_->fileCount() * settings_.dupImages);
        break;
    case 10:
        settings_.isDateSort = sortCheckbox_->isChecked();
        if (list_->fileCount() > 0) {
            const bool option = optionHeld();
            startListing([this, option] { list_->resortFiles(option); });
        }
        break;
    case 11:
        settings_.isDateStamped = dateCheckbox_->isChecked();
        redrawPreview();
        break;
    case 12:
        settings_.isGPS = gpsCheckbox_->isChecked();
        redrawPreview();
        break;
    case 13:
        fontColorPanels_->toggleForStamp();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// mvMenu: the program's own menu items

void MVWindow::mvMenu(int tag)
{
    fontColorPanels_->forgetStamp();
    switch (tag) {
    case 1:
        showManual();
        break;
    case 2:
        if (listing_ || run_->isCreatingMovie())
            break;
        list_->clearList();
        startListing([this] { list_->selectFiles(); });
        hideIfVisible(layerModePanel_);
        break;
    case 3:
        close();
        break;
    case 4:
        createOrStop(true);
        break;
    case 5:
        run_->hasMovieName = false;
        run_->setMovieName(*ports_);
        break;
    case 6:
        if (files_ && fs::exists(files_->animFile))
            openWithDesktop(files_->animFile);
        else
            ports_->alert("The animation file could not be found.", " ", false);
        break;
    case 8:
        if (files_ && fs::exists(files_->verifyFile)) {
            if (optionHeld()) {
                std::error_code ec;
                fs::remove(files_->verifyFile, ec);
                enableVerifyMenu(false);
            } else {
                openWithDesktop(files_->verifyFile);
            }
        } else {
            ports_->alert("The verify list file could not be found.", " ", false);
        }
        break;
    case 9:
        hideIfVisible(layerModePanel_);
        if (appending_)
            break;
        if (appendWorker_.joinable())
            appendWorker_.join();
        appending_ = true;
        fileItems_[9]->setEnabled(false);
        // The tool reports its own failure (status line and alert).
        appendWorker_ = std::thread([this] {
            append_->appendMoviesCommand();
            appending_ = false;
            main_->post([this] { fileItems_[9]->setEnabled(runControlsOn_ && !listing_); });
        });
        break;
    case 10:
        hideIfVisible(layerModePanel_);
        startListing([this] {
            list_->setIsLayerImages(true);
            if (list_->selectFiles())
                main_->post([this] { layerModePanel_->show(); });
        });
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// The panels' dispatchers

void MVWindow::mvFilters(int tag)
{
    fontColorPanels_->forgetStamp();
    switch (tag) {
    case 1:
        fontColorPanels_->showTint();
        break;
    case 13:
        adjustmentPanel_->apply(tag);
        cropView_.isCropRect = false; // the frame's shape changed: the rectangle is laid out again
        break;
    case 19:
        adjustmentPanel_->apply(tag);
        if (brightnessPanel_)
            brightnessPanel_->windowChanged();
        // The editor's preview shows no gain; the main window's does.
        refreshFramePreview();
        return;
    case 20:
        toggleShown(adjustmentPanel_);
        break;
    case 21:
        toggleShown(watermarkPanel_);
        if (watermarkPanel_->isVisible())
            fontColorPanels_->showWatermarkStyle();
        else
            fontColorPanels_->watermarkClosed();
        fontColorPanels_->retitle();
        return;
    default:
        adjustmentPanel_->apply(tag);
        // The smoothing changes the movie's length.
        if (tag == 0 || tag == 17 || tag == 18)
            setNumList(settings_.numListImages);
        break;
    }
    settings_.isFilterChange = true;
    redrawPreview();
}

void MVWindow::mvWatermarkAction(int tag)
{
    fontColorPanels_->forgetStamp();
    if (tag == 3)
        fontColorPanels_->toggleForWatermark();
    watermarkPanel_->apply(tag);
    if (tag == 4 && !settings_.useWatermark)
        fontColorPanels_->hide();
    handWatermarkToRenderer();
    redrawPreview(); // the previews draw the watermark as the movie will
}

void MVWindow::mvLayerModeAction(int row)
{
    settings_.overlayMode = static_cast<std::uint16_t>(row);
    if (row == kMaskBlend) {
        startListing([this] {
            list_->setIsMaskImages(true);
            list_->selectFiles();
            list_->setIsMaskImages(false);
        });
    }
    layerModePanel_->hide();
}

// The renderer measures the text and makes its bitmap anew; it keeps a
// frame being drawn on the movie's thread whole while it does.
void MVWindow::handWatermarkToRenderer()
{
    textLayer_->watermarkText(settings_.watermarkFont, settings_.watermarkColor, settings_.watermarkStr,
                              settings_.wPosnX, settings_.wPosnY);
}

void MVWindow::handStampStyleToRenderer() { textLayer_->dateText(settings_.textFont, settings_.textColor); }

void MVWindow::showAdjustments() { adjustmentPanel_->showAdjustments(); }

// Says, while it is so, that the movie takes its adjustments from the
// keyframes, whatever the sliders show.
void MVWindow::showKeyframesNote()
{
    adjustmentPanel_->showKeyframesNote(followsKeyframes(cropWindow_.get(), settings_));
}

// ---------------------------------------------------------------------------
// Closing

void MVWindow::stopAndSave()
{
    // Every time: a worker started after an earlier call must not outlive
    // the window. The settings are saved once.
    // From here no worker waits for an answer of the main thread, which
    // will wait for the workers.
    main_->setClosing();
    if (stopWorker_.joinable())
        stopWorker_.join();
    if (run_) {
        if (run_->isCreatingMovie()) {
            // Writing the movie can take seconds: the window says why it stays.
            setStatusText(tr("Finishing the movie…"));
            timeRemainText_->repaint();
            run_->stopMovie(); // keeps every frame written: closing is not a choice of the last image
        }
        run_->waitForWorker();
    }
    if (listWorker_.joinable())
        listWorker_.join();
    if (appendWorker_.joinable())
        appendWorker_.join();
    if (convertWorker_.joinable())
        convertWorker_.join();
    if (convert_)
        convert_->stopConversion();
    if (saved_)
        return;
    saved_ = true;
    // Said once, at the first save: the next run would start from the old
    // settings without a word otherwise.
    if (!savePrefs(*prefs_, settings_))
        ports_->alert(windowText("The settings could not be saved."), prefs_->location() + " cannot be written.",
                      false);
}

void MVWindow::closeEvent(QCloseEvent* event)
{
    stopAndSave();
    for (QWidget* w : std::initializer_list<QWidget*>{adjustmentPanel_, watermarkPanel_, layerModePanel_, convertPanel_})
        hideIfVisible(w);
    fontColorPanels_->hide();
    event->accept();
}

} // namespace mv::shell
