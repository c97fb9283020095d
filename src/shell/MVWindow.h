#pragma once
// The main window. It owns the logic objects (settings, image list, movie
// run, keyframe model, tools) and the panels, shows the objects with
// widgets, and sends every command of its controls and panels through
// dispatchers by tag.
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "animation/CropWindow.h"
#include "imagelist/ImagesList.h"
#include "imagelist/VerifyList.h"
#include "platform/system/DataFolder.h"
#include "platform/system/PreferenceStore.h"
#include "render/MovieRun.h"
#include "settings/JobSettings.h"
#include "textlayer/CITextLayer.h"
#include "tools/AppendMovies.h"
#include "tools/Convert.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace mv::shell {

class AdjustmentPanel;
class BrightnessPanel;
class ConvertPanel;
class EditorWindow;
class FontColorPanels;
class FramePreviewView;
class ImageListView;
class LayerModePanel;
class MainThread;
class ShellPorts;
class WatermarkPanel;

class MVWindow : public QMainWindow {
    Q_OBJECT
public:
    // `store` replaces the user's preference store (tests); null opens it.
    explicit MVWindow(std::unique_ptr<PreferenceStore> store = nullptr, QWidget* parent = nullptr);
    ~MVWindow() override;

    // The dispatchers of the window, the menus and the panels.
    void mvAction(int tag);
    void mvMenu(int tag);
    void mvFilters(int tag);
    void mvWatermarkAction(int tag);
    void mvLayerModeAction(int row);

    // Lists files and folders as a drop onto the list does (the command line
    // passes its paths this way). Runs off the main thread.
    void listPaths(const QStringList& paths);
    // A list-building run is going on.
    bool isListing() const { return listing_; }
    // The adjustment sliders and labels show the settings again (after
    // they changed elsewhere: keyframes read, preferences).
    void showAdjustments();
    // On the only screen, a window not wholly inside it goes to its lower
    // left corner; with several screens it stays where it is.
    void placeWindow();
    // Stops a running movie and saves the preferences (window close, quit).
    void stopAndSave();

    // The main window's part of the enabling rules (called through the ports).
    void setCreateEnable(bool on);
    void setNumList(unsigned n);
    void setDateEnable(bool on);
    void setGPSEnable(bool on);
    void setTimeRangeChecked(bool on);
    void setDateSortEnable(bool on);
    void setCustomCropEnable(bool on);
    void enableAnimMenu(bool on);
    void enableVerifyMenu(bool on);
    void enableLayerMenu(bool on);
    void setRunControlsEnabled(bool on);
    void setStatusText(const QString& text);
    // The image chosen in the list, and its frame in the preview.
    void chooseImage(int index);
    void refreshFramePreview();
    FramePreviewView* framePreview() const { return framePreview_; }
    // The bar beside the status text (hidden when nothing is in progress);
    // the title carries the percentage while the window is not active.
    void showProgress(const Progress& p);
    void setBaseTitle(const QString& title);

    // The animation editor: its rate step and keyframes change the length
    // and the rate shown here.
    EditorWindow* editorWindow() const { return editor_; }
    CropWindow& cropWindow() { return *cropWindow_; }
    void setRateFromEditor(std::uint16_t rate);
    void keyframesChanged();
    CITextLayer* textLayer() { return textLayer_.get(); }

    JobSettings& settings() { return settings_; }
    ImagesList& imagesList() { return *list_; }
    MovieRun& movieRun() { return *run_; }
    const std::optional<WorkingFiles>& workingFiles() const { return files_; }
    // Forces the Alt key state seen by the commands (tests without a
    // keyboard); nullopt reads the keyboard.
    void setOptionOverride(std::optional<bool> held) { optionOverride_ = held; }

    AdjustmentPanel* adjustmentPanel() const { return adjustmentPanel_; }
    WatermarkPanel* watermarkPanel() const { return watermarkPanel_; }
    LayerModePanel* layerModePanel() const { return layerModePanel_; }
    ConvertPanel* convertPanel() const { return convertPanel_; }
    FontColorPanels* fontColorPanels() const { return fontColorPanels_; }
    ImageListView* listView() const { return listView_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class ShellPorts;

    void buildWindow();
    void buildMenus();
    void buildPanels();
    void showSettings();
    void setTitles();
    void showDepth();

    bool optionHeld() const;
    // Shows "Length: ..." for n images by the settings' length rule.
    void showLength(unsigned n);
    void rereadRate();
    void createOrStop(bool fromMenu);
    void startListing(std::function<void()> run);
    void finishListing();
    void refreshCreateEnable();
    void showBrightnessPanel();
    void showManual();
    void showKeyframesNote();
    // The text renderer gets the watermark and the stamp style from here.
    void handWatermarkToRenderer();
    void handStampStyleToRenderer();
    void redrawPreview();
    void openWithDesktop(const std::string& path);

    JobSettings settings_;
    std::unique_ptr<PreferenceStore> prefs_;
    std::optional<WorkingFiles> files_;
    std::unique_ptr<MainThread> main_;
    std::unique_ptr<ShellPorts> ports_;
    std::unique_ptr<VerifyList> verifyList_;
    std::unique_ptr<ImagesList> list_;
    CropViewState cropView_;
    std::unique_ptr<CropWindow> cropWindow_;
    std::unique_ptr<CITextLayer> textLayer_; // outlives the run that draws with it
    EditorWindow* editor_ = nullptr;
    std::unique_ptr<MovieRun> run_;
    std::unique_ptr<AppendMovies> append_;
    std::unique_ptr<Convert> convert_;

    std::thread listWorker_;
    // Appending movies: its dialogs come to the main thread, the copying
    // and encoding stay on this worker.
    std::thread appendWorker_;
    std::atomic<bool> appending_{false};
    std::thread convertWorker_;
    std::atomic<bool> converting_{false};
    // Finishing a movie copies it whole into its final file, which takes a
    // while for a long movie: it never runs on the main thread.
    std::thread stopWorker_;
    std::atomic<bool> stopping_{false};
    // The image the list shows as the current one during a run: Stop ends
    // the movie there.
    std::optional<unsigned> shownImage_;
    std::atomic<bool> listing_{false};
    bool createWanted_ = false;
    bool runControlsOn_ = true;
    bool dateSortAllowed_ = true;
    bool saved_ = false;
    std::optional<bool> optionOverride_;
    // Last text each combo box acted on: leaving a box acts only on a new
    // text. The box whose Return is being handled, and whether it acted.
    std::map<QComboBox*, QString> lastComboText_;
    QComboBox* returnEntry_ = nullptr;
    bool returnActed_ = false;

    // Main window controls
    ImageListView* listView_ = nullptr;
    QLabel* imagesText_ = nullptr;
    QProgressBar* sortProg_ = nullptr;
    QPushButton* listImagesButton_ = nullptr;
    QPushButton* createMovieButton_ = nullptr;
    QLabel *fpsText_ = nullptr, *scaleText_ = nullptr, *codecText_ = nullptr, *qualityText_ = nullptr,
           *cropText_ = nullptr, *rateText_ = nullptr;
    QComboBox* depthButton_ = nullptr;
    QComboBox *fpsButton_ = nullptr, *scaleButton_ = nullptr, *codecButton_ = nullptr, *qualityButton_ = nullptr,
              *cropButton_ = nullptr, *rateButton_ = nullptr;
    QCheckBox *sortCheckbox_ = nullptr, *dateCheckbox_ = nullptr, *gpsCheckbox_ = nullptr;
    QPushButton* dateFontButton_ = nullptr;
    QPushButton *filterToggle_ = nullptr, *watermarkToggle_ = nullptr;
    QLabel* timeRemainText_ = nullptr;
    FramePreviewView* framePreview_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QString baseTitle_;
    void refreshTitle();

    // Menus, by tag
    QMenu *fileMenu_ = nullptr, *windowMenu_ = nullptr, *helpMenu_ = nullptr, *appMenu_ = nullptr;
    std::map<int, QAction*> fileItems_;

    // Panels
    AdjustmentPanel* adjustmentPanel_ = nullptr;
    BrightnessPanel* brightnessPanel_ = nullptr; // made when first opened
    WatermarkPanel* watermarkPanel_ = nullptr;
    LayerModePanel* layerModePanel_ = nullptr;
    ConvertPanel* convertPanel_ = nullptr;
    FontColorPanels* fontColorPanels_ = nullptr;
    QDialog* manualWindow_ = nullptr; // made at the first Help > Manual
};

} // namespace mv::shell
