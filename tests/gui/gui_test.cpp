// The real main window on the offscreen platform: listing by drop, the
// length and label rules, the enabling rules, a movie made by a click and
// checked with ffprobe, and a close while a movie is written.
#include <algorithm>

#include "GuiSupport.h"
#include "animation/CropWindow.h"
#include "platform/picture/Picture.h"
#include "settings/MovieName.h"
#include "shell/AdjustmentPanel.h"
#include "shell/BrightnessPanel.h"
#include "shell/CropView.h"
#include "shell/EditorWindow.h"
#include "shell/FloatSlider.h"
#include "shell/FontColorPanels.h"
#include "shell/FramePreviewView.h"
#include "shell/ImageListView.h"
#include "shell/KeyframePanel.h"
#include "shell/LayerModePanel.h"
#include "shell/MVWindow.h"
#include "shell/WatermarkPanel.h"
#include "shell/WindowParts.h"

using mv::shell::FloatSlider;
using mv::shell::MVWindow;
using mv::shell::toQColor;

using namespace guitest;

class GuiTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString images_;

    // Makes n images of width x height in a folder of their own and lists
    // them in the window; the folder's path.
    QString listNewImages(MVWindow& w, const QString& name, int n, int width, int height)
    {
        const QString dir = tmp_.path() + "/" + name;
        makeImages(dir, n, width, height);
        w.listPaths({dir});
        waitListed(w);
        return dir;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", (tmp_.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (tmp_.path() + "/config").toLocal8Bit());
        images_ = tmp_.path() + "/hundred";
        makeImages(images_, 100);
    }

    // Controls start off until a list exists. List Images empties the list
    // and asks, from the listing worker, with the open dialog on the main
    // thread, which takes a whole folder; a drop adds another; the view
    // lines and the count follow.
    void dropListsAndEnables()
    {
        MVWindow w;
        w.show();
        Alerts alerts;
        auto* create = w.findChild<QPushButton*>("createMovieButton");
        auto* crop = box(w, "cropButton");
        QVERIFY(!create->isEnabled());
        QVERIFY(!w.windowIcon().pixmap(48).isNull());
        // Menus draw text at the size they measure it at (the frames' text,
        // 12 points at 72 dpi, once lent them its 12-pixel font engine).
        const QFont menuFont = w.findChild<QMenu*>("fileMenu")->font();
        QCOMPARE(QFontInfo(menuFont).pointSizeF(), menuFont.pointSizeF());
        // A screen reader reads an editable box's text field; the box's popup
        // opens on the value entered.
        auto* fps = box(w, "fpsButton");
        QCOMPARE(fps->lineEdit()->accessibleName(), QString("FPS"));
        enter(fps, "24");
        QCOMPARE(fps->itemText(fps->currentIndex()), QString("24"));
        // The manual in a window of the program's own.
        w.mvMenu(1);
        auto* manual = w.findChild<QDialog*>("manualWindow");
        QVERIFY(manual && manual->isVisible());
        QVERIFY(manual->findChild<QTextBrowser*>("manualText")->toPlainText().contains("Moirevance"));
        saveShot(manual, "manual-window");
        manual->hide();
        // "Custom" without images: an alert and Middle again.
        choose(crop, "Custom");
        QCOMPARE(alerts.titles, QStringList{"List images first."});
        QCOMPARE(crop->currentIndex(), 1);
        QCOMPARE(w.settings().crop, 2);

        w.listPaths({images_ + "/img_001.png"});
        waitListed(w);
        // The dialog opens once the worker asks for it: answer it when it shows.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [this, &poll] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll.stop();
            QCOMPARE(dialog->windowTitle(), QString("Image Files"));
            dialog->setDirectory(images_);
            // The folder is read in the background.
            auto* files = dialog->findChild<QTreeView*>("treeView");
            QTRY_COMPARE_WITH_TIMEOUT(files->model()->rowCount(files->rootIndex()), 100, kPatience);
            QTRY_COMPARE(files->model()->index(0, 0, files->rootIndex()).data().toString(), QString("img_001.png"));
            saveShot(dialog, "open-dialog");
            dialog->findChild<QPushButton*>("wholeFolderButton")->click();
        });
        poll.start(20);
        w.findChild<QPushButton*>("listImagesButton")->click();
        QVERIFY(w.isListing() || w.imagesList().fileCount() == 100);
        waitListed(w);
        QCOMPARE(w.imagesList().fileCount(), 100u);
        QVERIFY(create->isEnabled());

        const QString second = tmp_.path() + "/second";
        makeImages(second, 3, 64, 48, "zz");
        auto* view = w.listView();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(second)});
        QDragEnterEvent dragEnter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &dragEnter);
        QVERIFY(dragEnter.isAccepted() && view->isDragOver());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &drop);
        QVERIFY(!view->isDragOver());
        waitListed(w);
        QCOMPARE(w.imagesList().fileCount(), 103u);
        const QStringList lines = view->toPlainText().split('\n');
        QCOMPARE(lines.size(), 103);
        QCOMPARE(lines.last(), QString("zz_003.png"));
        for (int i = 0; i < lines.size(); ++i) // the frame order of the movie
            QCOMPARE(lines[i], QFileInfo(QString::fromStdString(w.imagesList().imageFiles()[i])).fileName());
        QCOMPARE(w.findChild<QLabel*>("imagesText")->text(), QString("103 Images:"));
        // Sorting by date builds the list again, with its indicator meanwhile.
        auto* sortProg = w.findChild<QWidget*>("sortProg");
        w.findChild<QCheckBox*>("sortCheckbox")->click();
        QVERIFY(w.isListing() && sortProg->isVisible());
        waitListed(w);
        QVERIFY(!sortProg->isVisible());
        QCOMPARE(w.imagesList().fileCount(), 103u);
        // Custom can be chosen now.
        choose(crop, "Custom");
        QCOMPARE(w.settings().crop, 4);
        saveShot(&w, "main-window");
    }

    // The Verify List item: with Alt the file goes and the item is off;
    // without the file, an alert. A window off the only screen comes back.
    void verifyListAndPlacement()
    {
        MVWindow w;
        Alerts alerts;
        const QString verify = QString::fromStdString(w.workingFiles()->verifyFile);
        QVERIFY(writeFile(verify, "*** Moirevance Image Verification List ***\n"));
        w.enableVerifyMenu(true);
        w.setOptionOverride(true);
        w.mvMenu(8);
        QVERIFY(!QFile::exists(verify));
        QVERIFY(!w.findChild<QAction*>("fileItem8")->isEnabled());
        w.setOptionOverride(false);
        w.mvMenu(8);
        QCOMPARE(alerts.titles, QStringList{"The verify list file could not be found."});

        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        w.move(screen.right() - 50, screen.top() - 100);
        w.placeWindow();
        QCOMPARE(w.frameGeometry().left(), screen.left() + 30);
        QCOMPARE(w.frameGeometry().bottom(), screen.bottom() - 30);
    }

    // Stored preferences beyond what the controls take are held to them at
    // start, and the controls show them; a store that cannot be written is
    // said once, at the close.
    void hostilePreferences()
    {
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        const QString hostile = tmp_.path() + "/hostile";
        {
            QSettings ini(hostile + "/Moirevance/Moirevance.ini", QSettings::IniFormat);
            const double posn[] = {std::nan(""), 2};
            ini.setValue("WatermarkPosnPref", QByteArray(reinterpret_cast<const char*>(posn), sizeof posn));
            for (const auto& [key, value] : {std::pair{"FPSPref", "1e30"}, {"FromTimePref", "1e30"},
                                             {"ToTimePref", "-3"}, {"CodecPref", "99"}, {"QualityPref", "0"},
                                             {"FormatPref", "-5"}, {"TweenFramePref", "70000"},
                                             {"MotionFramePref", "0"}, {"DepthPref", "12"}})
                ini.setValue(key, value);
        }
        qputenv("XDG_CONFIG_HOME", hostile.toLocal8Bit());
        {
            MVWindow w;
            const mv::JobSettings& s = w.settings();
            auto text = [&](const char* name) { return w.findChild<QLabel*>(name)->text(); };
            auto field = [&](const char* name) { return w.findChild<QLineEdit*>(name)->text(); };
            QCOMPARE(box(w, "fpsButton")->currentText(), QString("600"));
            QCOMPARE(box(w, "qualityButton")->currentText(), QString("Normal"));
            QCOMPARE(s.presetSize(), (std::pair{1280, 720})); // the registered preset, not 600% of the image
            QCOMPARE(field("rangeFromText") + " " + field("rangeToText"), QString("24:00:00 0:00:00"));
            QCOMPARE(text("tweenText") + " " + text("motionText"), QString("10 1"));
            QVERIFY(w.findChild<QRadioButton*>("watermarkHorizRadio0")->isChecked());
            QVERIFY(w.findChild<QRadioButton*>("watermarkVertRadio2")->isChecked());
            // The depth box: a choice for HEVC and AV1 only, ProRes always
            // 10-bit, and the choice in the movie's name.
            auto* depth = box(w, "depthButton");
            auto* codec = box(w, "codecButton");
            QCOMPARE(codec->currentText(), QString("H264"));
            QVERIFY(!depth->isEnabled());
            QCOMPARE(depth->currentText(), QString("8-bit"));
            choose(codec, "HEVC");
            QVERIFY(depth->isEnabled());
            choose(depth, "10-bit");
            QCOMPARE(mv::movieDepth(s), 10);
            QVERIFY(mv::defaultMovieName(s, false).find(",HEVC-10,") != std::string::npos);
            choose(codec, "ProRes 422 HQ");
            QVERIFY(!depth->isEnabled());
            QCOMPARE(depth->currentText(), QString("10-bit"));
            choose(codec, "H264");
            QCOMPARE(depth->currentText(), QString("8-bit"));
        }
        // A folder where the file should be cannot be written, not even by
        // root (for whom a read-only file is no obstacle).
        const QString locked = tmp_.path() + "/locked";
        QVERIFY(QDir().mkpath(locked + "/Moirevance/Moirevance.ini"));
        qputenv("XDG_CONFIG_HOME", locked.toLocal8Bit());
        Alerts alerts;
        {
            MVWindow w;
            w.show();
            w.close();
            QCoreApplication::processEvents();
        }
        qputenv("XDG_CONFIG_HOME", config);
        QCOMPARE(alerts.titles, QStringList{"The settings could not be saved."});
        QCOMPARE(alerts.messages, QStringList{locked + "/Moirevance/Moirevance.ini cannot be written."});
    }

    // The length rule with FPS, tweening, and a rate entered with Alt.
    void lengthRule()
    {
        MVWindow w;
        w.listPaths({images_});
        waitListed(w);
        auto* fps = box(w, "fpsButton");
        auto* rate = box(w, "rateButton");
        enter(fps, "25");
        QCOMPARE(status(w), QString("Length:  0m 4.0s"));
        // Tweening and motion blur exclude each other.
        auto* tween = w.findChild<QCheckBox*>("tweenCheckbox");
        auto* motion = w.findChild<QCheckBox*>("motionBlurCheckbox");
        motion->click();
        QVERIFY(w.settings().isMotionBlur);
        w.findChild<QSlider*>("tweenSlider")->setValue(3);
        tween->click();
        QVERIFY(!motion->isChecked() && !w.findChild<QSlider*>("motionSlider")->isEnabled());
        QCOMPARE(status(w), QString("Length:  0m 15.9s"));
        tween->click();

        enter(fps, "10");
        w.setOptionOverride(true);
        enter(rate, "2");
        w.setOptionOverride(false);
        QCOMPARE(w.settings().dupImages, 2);
        QCOMPARE(w.settings().rate, 1);
        QCOMPARE(rate->currentText(), QString("1"));
        QCOMPARE(status(w), QString("Length:  0m 20.0s"));
        // Choosing 1, the text the box already shows, undoes the count; so
        // does typing it. A Return is one entry, however many signals report it.
        choose(rate, "1");
        QCOMPARE(w.settings().dupImages, 1);
        auto type = [&](const QString& text, bool alt) {
            w.setOptionOverride(alt);
            rate->lineEdit()->selectAll();
            QTest::keyClicks(rate->lineEdit(), text);
            QTest::keyClick(rate->lineEdit(), Qt::Key_Return);
            w.setOptionOverride(false);
        };
        type("2", true);
        QCOMPARE(w.settings().dupImages, 2);
        QCOMPARE(rate->currentText(), QString("1"));
        type("1", false);
        QCOMPARE(w.settings().dupImages, 1);
        enter(fps, "10.0");
        QCOMPARE(status(w), QString("Length:  0m 10.0s"));
        w.setNumList(0);
        QCOMPARE(status(w), QString("Length:  0m 10.0s"));
    }

    // Slider labels in their units, the resets, deflicker, and where a picked
    // colour goes.
    void panels()
    {
        MVWindow w;
        w.show();
        auto label = [&](const char* name) { return w.findChild<QLabel*>(name)->text(); };
        auto* saturation = w.findChild<QSlider*>("saturationSlider");
        saturation->setValue(1500);
        QCOMPARE(w.settings().saturation, 1.5f);
        QCOMPARE(label("saturationText"), QString("50.0"));
        // Arrow keys step by 0.01, and by 0.001 with Alt held.
        QTest::keyClick(saturation, Qt::Key_Right);
        QCOMPARE(label("saturationText"), QString("51.0"));
        QTest::keyClick(saturation, Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(label("saturationText"), QString("50.9"));
        w.settings().exposureEV = 1.5f;
        w.settings().rotateAngle = 0.5f;
        w.settings().sepiaIntensity = 0.25f;
        w.showAdjustments();
        saturation->setValue(1500); // a slider moved: the others keep their exact values
        QCOMPARE(label("exposureText"), QString("1.50ev"));
        QCOMPARE(label("rotateText"), QString::fromUtf8("28.7°"));
        QCOMPARE(label("sepiaText"), QString("25.0%"));
        w.findChild<QPushButton*>("exposureResetButton")->click();
        QCOMPARE(w.settings().exposureEV, 0.0f);
        QCOMPARE(label("exposureText"), QString("0.00ev"));
        w.findChild<QPushButton*>("resetColorButton")->click(); // saturation, brightness and contrast
        QCOMPARE(w.settings().saturation, 1.0f);
        QCOMPARE(w.settings().sepiaIntensity, 0.25f);
        w.findChild<QPushButton*>("resetAllButton")->click();
        QCOMPARE(w.settings().sepiaIntensity, 0.0f);

        // Deflicker's switch and window reach the settings; the window field
        // is only open while the switch is on.
        auto* deflicker = w.findChild<QCheckBox*>("deflickerCheckbox");
        auto* window = w.findChild<QSpinBox*>("deflickerWindowField");
        QVERIFY(!window->isEnabled());
        deflicker->click();
        QVERIFY(w.settings().isDeflicker && window->isEnabled());
        QCOMPARE(window->text(), QString("Automatic"));
        window->setValue(25);
        QCOMPARE(w.settings().deflickerWindow, 25);
        window->setValue(window->minimum());
        QCOMPARE(w.settings().deflickerWindow, 0);
        deflicker->click();
        QVERIFY(!w.settings().isDeflicker && !window->isEnabled());
        // Skipping the checks turns the KML checkbox off without changing the option.
        auto* kml = w.findChild<QCheckBox*>("kmlCheckbox");
        kml->click();
        w.findChild<QCheckBox*>("skipCheckbox")->click();
        QVERIFY(!kml->isEnabled() && !kml->isChecked() && w.settings().isCreateKML);

        QColorDialog* colors = w.fontColorPanels()->colorPanel();
        QFontDialog* fonts = w.fontColorPanels()->fontPanel();
        w.findChild<QPushButton*>("watermarkPanelButton")->click(); // open: the panels are the watermark's
        w.findChild<QPushButton*>("watermarkFontButton")->click();
        QVERIFY(fonts->isVisible() && colors->isVisible());
        QCOMPARE(fonts->windowTitle() + ", " + colors->windowTitle(), QString("Watermark Font, Watermark Colour"));
        colors->setCurrentColor(Qt::red);
        QCOMPARE(toQColor(w.settings().watermarkColor), QColor(Qt::red));
        fonts->setCurrentFont(QFontDatabase::font("DejaVu Sans", "Bold", 36)); // the style is kept
        const mv::FontSpec& font = w.settings().watermarkFont;
        QCOMPARE(QString("%1 %2 %3").arg(font.family.c_str(), font.style.c_str()).arg(font.pointSize),
                 QString("DejaVu Sans Bold 36"));
        saveShot(w.watermarkPanel(), "watermark-panel");
        saveShot(colors, "watermark-colour-panel");
        w.findChild<QRadioButton*>("watermarkHorizRadio2")->click();
        QCOMPARE(w.settings().wPosnX, 2.0);
        w.mvFilters(21);
        w.findChild<QPushButton*>("dateFontButton")->click(); // the stamp's
        QVERIFY(colors->isVisible());
        QCOMPARE(colors->windowTitle(), QString("Stamp Colour"));
        saveShot(fonts, "font-panel");
        colors->setCurrentColor(Qt::green);
        QCOMPARE(toQColor(w.settings().textColor), QColor(Qt::green));
        w.mvAction(11); // any other command: the monochrome tint's
        QCOMPARE(colors->windowTitle(), QString("Tint Colour"));
        colors->setCurrentColor(Qt::blue);
        saveShot(colors, "colour-panel");
        const mv::RGBColor tint = w.settings().ciColor;
        QCOMPARE(QColor::fromRgbF(tint.red, tint.green, tint.blue), QColor(Qt::blue));
        QCOMPARE(toQColor(w.settings().textColor), QColor(Qt::green));

        w.mvFilters(20);
        saveShot(w.adjustmentPanel(), "adjustment-panel");
        w.layerModePanel()->show();
        saveShot(w.layerModePanel(), "layer-mode-panel");
        w.findChild<QRadioButton*>("layerModeRadio5")->click();
        QCOMPARE(w.settings().overlayMode, 5);
        QVERIFY(!w.layerModePanel()->isVisible());
    }

    // The brightness chart: an analysis on request, off the main thread;
    // another window fits the curve again without measuring; the list
    // changing clears it.
    void brightnessPanel()
    {
        MVWindow w;
        w.show();
        // A sunset falling 2.5 stops in about 30 images, with flicker.
        const QString dir = tmp_.path() + "/sunset";
        QDir().mkpath(dir);
        const QString gain = "pow(2,(-2.5/(1+exp(-(N-40)/5))+0.15*sin(N*N*1.7))/2.2)";
        run("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 80 -vf \"geq=r='min(255,r(X,Y)*" +
            gain + ")':g='min(255,g(X,Y)*" + gain + ")':b='min(255,b(X,Y)*" + gain + ")'\" '" + dir +
            "/sun_%03d.png'");
        w.listPaths({dir});
        waitListed(w);
        w.findChild<QPushButton*>("brightnessButton")->click();
        auto* panel = w.findChild<mv::shell::BrightnessPanel*>("brightnessPanel");
        QVERIFY(panel && panel->isVisible());
        auto* text = panel->findChild<QLabel*>("brightnessStatus");
        auto* stop = panel->findChild<QPushButton*>("stopAnalysisButton");
        QVERIFY(!stop->isEnabled());
        panel->findChild<QPushButton*>("analyseButton")->click();
        QVERIFY(stop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(text->text().startsWith("80 images measured"), kPatience);
        QVERIFY2(text->text().contains("(chosen from the images)"), qPrintable(text->text()));
        QVERIFY(!stop->isEnabled());
        saveShot(panel, "brightness-panel");
        w.findChild<QSpinBox*>("deflickerWindowField")->setValue(9);
        QTRY_VERIFY_WITH_TIMEOUT(text->text().contains("straight through 9 images"), kPatience);

        // The main window's preview takes the measured gain once Deflicker
        // is on: the image that needs most is brighter or darker as it says.
        // (A copy: turning Deflicker on fits the curve again.)
        const std::vector<float> gains = panel->gains();
        QCOMPARE(gains.size(), std::size_t(80));
        const auto most = std::max_element(gains.begin(), gains.end(),
                                           [](float a, float b) { return std::abs(a) < std::abs(b); });
        QVERIFY(std::abs(*most) > 0.1f);
        auto* preview = w.framePreview();
        const auto mean = [&] {
            const QImage f = preview->frame().convertToFormat(QImage::Format_Grayscale8);
            double sum = 0;
            for (int y = 0; y < f.height(); ++y)
                for (int x = 0; x < f.width(); ++x)
                    sum += qGray(f.pixel(x, y));
            return sum / (f.width() * f.height());
        };
        w.chooseImage(int(most - gains.begin()));
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading() && !preview->frame().isNull(), kPatience);
        const double before = mean();
        auto* deflicker = w.findChild<QCheckBox*>("deflickerCheckbox");
        deflicker->click();
        QVERIFY(preview->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);
        QVERIFY2((mean() - before) * *most > 0, qPrintable(QString("%1 -> %2 at %3 EV").arg(before).arg(mean()).arg(*most)));
        deflicker->click();
        w.listPaths({images_});
        waitListed(w);
        QTRY_VERIFY(text->text().startsWith("Analyse measures the brightness of the"));
    }

    // One image is not a movie; two are. The movie is made by the button,
    // off the main thread, the list following it.
    void makeMovieByClick()
    {
        MVWindow w;
        w.show();
        Alerts alerts;
        auto* create = w.findChild<QPushButton*>("createMovieButton");
        auto* listImages = w.findChild<QPushButton*>("listImagesButton");
        const QString movie = tmp_.path() + "/clicked.mov";
        nameMovie(w, movie);
        w.listPaths({images_ + "/img_001.png"});
        waitListed(w);
        create->click();
        QCOMPARE(alerts.titles, QStringList{"No images selected."});

        w.imagesList().clearList(); // as List Images does before its dialog
        w.listPaths({images_});
        waitListed(w);
        set(w, {{"codecButton", "JPEG"}, {"scaleButton", "50%"}, {"fpsButton", "20"}});
        w.movieRun().hasMovieName = true; // the choices above ask for a new name
        // The bar's texts as they come; with another window active, the
        // title carries the percentage.
        QWidget other;
        other.show();
        other.activateWindow();
        QTRY_VERIFY(!w.isActiveWindow());
        auto* bar = w.findChild<QProgressBar*>("progressBar");
        QStringList bars, titles;
        bool shot = false;
        connect(bar, &QProgressBar::valueChanged, &w, [&] {
            bars << bar->text();
            if (!shot && bar->value() >= 500)
                saveShot(&w, "main-window-progress");
            shot = shot || bar->value() >= 500;
        });
        connect(&w, &QWidget::windowTitleChanged, &w, [&](const QString& t) { titles << t; });
        create->click();
        QVERIFY(w.movieRun().isCreatingMovie() || status(w).startsWith("Complete"));
        QVERIFY(!listImages->isEnabled() || status(w).startsWith("Complete"));
        QTRY_VERIFY_WITH_TIMEOUT(status(w).startsWith("Complete"), kPatience);
        QTRY_VERIFY(!bar->isVisible());
        QVERIFY(bars.size() > 10);
        QVERIFY(bars.last().startsWith("100 %"));
        QVERIFY(bars.filter(" left").size() > 0);
        QCOMPARE(titles.filter("100 % \u2014 clicked").size(), 1);
        QCOMPARE(w.windowTitle(), QString("clicked.mov"));
        QCOMPARE(create->text(), QString("Create Movie"));
        QVERIFY(listImages->isEnabled());
        QCOMPARE(w.findChild<QLabel*>("imagesText")->text(), QString("(100/100) Images:"));
        QCOMPARE(w.listView()->extraSelections().size(), 1);
        QCOMPARE(probe(movie), QString("mjpeg,32,24,100"));
    }

    // An image chosen in the list (a click, then the arrow keys) shows its
    // frame as the movie makes it, and a change of the adjustments shows
    // at once.
    void framePreviewFollowsTheListAndTheControls()
    {
        MVWindow w;
        w.show();
        listNewImages(w, "chosen", 10, 320, 180);
        set(w, {{"codecButton", "TIFF"}, {"scaleButton", "50%"}, {"cropButton", "Middle"}});
        auto* preview = w.framePreview();
        auto* list = w.listView();
        const int lineH = list->fontMetrics().lineSpacing();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, 2 * lineH + lineH / 2));
        QCOMPARE(list->chosenLine(), 2);
        QCOMPARE(w.findChild<QLabel*>("imagesText")->text(), QString("(3/10) Images:"));
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading() && !preview->frame().isNull(), kPatience);
        QCOMPARE(preview->frame().size(), QSize(160, 90));
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->chosenLine(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);
        const QImage fourth = preview->frame();
        // The movie's own frame of that image.
        const QByteArray frames = makeMovie(w, tmp_.path() + "/chosen.mov");
        QCOMPARE(frames.size(), 10 * 160 * 90 * 3);
        const double diff = meanDiff(fourth, frameOf(frames, 3, 160, 90));
        QVERIFY2(diff < 0.5, qPrintable(QString::number(diff)));

        // Grey at saturation 0, at once.
        QTest::keyClick(list, Qt::Key_Down);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);
        auto* saturation = w.findChild<FloatSlider*>("saturationSlider");
        saturation->setFloatValue(0);
        QVERIFY(preview->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);
        const QColor c = preview->frame().pixelColor(40, 20);
        QVERIFY(std::abs(c.red() - c.green()) <= 2 && std::abs(c.green() - c.blue()) <= 2);
        saveShot(&w, "main-window-preview");
        saturation->setFloatValue(1);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);

        // The watermark, drawn as soon as it is turned on.
        const QImage plain = preview->frame();
        w.findChild<QCheckBox*>("watermarkUseCheckbox")->click();
        QVERIFY(preview->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!preview->isLoading(), kPatience);
        QVERIFY(meanDiff(preview->frame(), plain) > 0.1);
        w.findChild<QCheckBox*>("watermarkUseCheckbox")->click(); // the next window starts without it
    }

    // While a movie is written its settings are locked. Stop finishes it (a
    // copy of it whole into its final file) off the main thread: the click
    // returns at once and the window goes on. Closing the window while one is
    // written keeps a finished movie and the settings; the next window starts
    // from them.
    void stopOrCloseWhileRunning()
    {
        const QString stopped = tmp_.path() + "/stopped.mov", closed = tmp_.path() + "/closed.mov";
        {
            MVWindow w;
            enter(box(w, "fpsButton"), "12");
            w.show();
            // TIFF at the largest frame size: slow to make and to finish.
            listNewImages(w, "large", 120, 640, 480);
            choose(box(w, "codecButton"), "TIFF");
            choose(box(w, "scaleButton"), box(w, "scaleButton")->itemText(20));
            nameMovie(w, stopped);
            auto* create = w.findChild<QPushButton*>("createMovieButton");
            create->click();
            QVERIFY(w.movieRun().isCreatingMovie());
            QCOMPARE(create->text(), QString("Stop Movie"));
            for (const char* locked : {"listImagesButton", "fpsButton", "scaleButton", "codecButton", "rateButton"})
                QVERIFY2(!w.findChild<QWidget*>(locked)->isEnabled(), locked);
            QVERIFY(create->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(w.movieRun().actualImages() >= 8, kPatience);
            // The movie ends with the image the window shows at the click.
            const QString shown = w.findChild<QLabel*>("imagesText")->text(); // "(n/120) Images:"
            const int shownImage = shown.mid(1, shown.indexOf('/') - 1).toInt();
            QVERIFY2(shownImage >= 1, qPrintable(shown));
            QElapsedTimer clock;
            clock.start();
            create->click();
            // The stop only asks the run to end: waiting for it would take
            // seconds of TIFF frames. Room is left for a busy machine.
            QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed()) + " ms"));
            QVERIFY(!create->isEnabled()); // no second stop or new movie meanwhile
            QTRY_VERIFY_WITH_TIMEOUT(!w.movieRun().isCreatingMovie() && create->isEnabled(), kPatience);
            QVERIFY(w.movieRun().wasWritten());
            QCOMPARE(probe(stopped), QString("tiff,4096,2160,%1").arg(shownImage));

            nameMovie(w, closed);
            create->click();
            QTRY_VERIFY_WITH_TIMEOUT(w.movieRun().actualImages() >= 2, kPatience);
            w.close();
            QVERIFY(!w.movieRun().isCreatingMovie() && w.movieRun().wasWritten());
            const QStringList fields = probe(closed).split(',');
            QCOMPARE(fields.value(0), QString("tiff"));
            QVERIFY2(fields.value(3).toInt() >= 2 && fields.value(3).toInt() < 120, qPrintable(fields.join(',')));
        }
        MVWindow again;
        QCOMPARE(box(again, "fpsButton")->currentText(), QString("12"));
        QCOMPARE(box(again, "codecButton")->currentText(), QString("TIFF"));
        QCOMPARE(again.settings().format, 15);
    }

    // Stepping through the list with the slider and the arrow keys; the
    // rate step with Down and Alt+Down reaches the main window.
    void editorSteppingAndKeys()
    {
        MVWindow w;
        w.show();
        QFile::remove(QString::fromStdString(w.cropWindow().animFile)); // Read stays off
        listNewImages(w, "one", 1, 160, 90);
        choose(box(w, "cropButton"), "Custom");
        auto* editor = w.editorWindow();
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->windowTitle(), QString("img_001.png"));
        auto* slider = editor->findChild<QSlider*>("frameSlider");
        auto* label = editor->findChild<QLabel*>("frameText");
        for (int v : {1000, 500, 0}) {
            slider->setValue(v);
            QCOMPARE(label->text(), QString("Frame: 1"));
        }
        QTest::keyClick(editor, Qt::Key_Right);
        QTest::keyClick(editor, Qt::Key_Left);
        QCOMPARE(w.cropWindow().frame, 0u);
        QCOMPARE(slider->value(), 0);

        w.imagesList().clearList();
        listNewImages(w, "sixty", 60, 160, 90);
        choose(box(w, "cropButton"), "Custom");
        QVERIFY(editor->isVisible());
        auto* stepper = editor->findChild<QSpinBox*>("rateStepper");
        auto* rateText = editor->findChild<QLabel*>("rateText");
        // A rate typed in the main window shows in the editor's label at
        // once; the stepper keeps its value.
        enter(box(w, "rateButton"), "7");
        QCOMPARE(rateText->text(), QString("Rate: 7X"));
        QCOMPARE(stepper->value(), 1);
        enter(box(w, "rateButton"), "1");
        auto down = [&](int from, Qt::KeyboardModifiers mods) {
            stepper->setValue(from);
            QTest::keyClick(stepper, Qt::Key_Down, mods); // the window takes the arrows from its controls
            return stepper->value();
        };
        QCOMPARE(down(1, Qt::NoModifier), 1);
        QCOMPARE(down(15, Qt::NoModifier), 5);
        QCOMPARE(down(15, Qt::AltModifier), 14);
        QCOMPARE(down(150, Qt::AltModifier), 50);
        QCOMPARE(rateText->text(), QString("Rate: 50X"));
        QCOMPARE(w.settings().rate, 50);
        QCOMPARE(box(w, "rateButton")->currentText(), QString("50"));
        stepper->setValue(1);

        slider->setValue(1000);
        QCOMPARE(label->text(), QString("Frame: 60"));
        QCOMPARE(editor->windowTitle(), QString("img_060.png"));
        QTest::keyClick(editor, Qt::Key_Left);
        QCOMPARE(label->text(), QString("Frame: 59"));
        QCOMPARE(slider->value(), 58 * 1000 / 59);

        // Tab goes through every control as laid out and round again; Read
        // (without an animation file) and the FPS slider (without Variable
        // FPS) are off and left out.
        stepper->setFocus();
        QStringList tabbed;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(editor->focusWidget(), Qt::Key_Tab);
            tabbed << editor->focusWidget()->objectName();
        }
        QCOMPARE(tabbed.join(' '),
                 QString("enterButton frameSlider playButton keyframesButton enableFPSCheckbox rateStepper"));
        // An emptied Rate box takes its value back when left or on Return;
        // Return and keypad Enter record a keyframe from any control.
        auto emptyRate = [&](Qt::Key key) {
            stepper->setFocus();
            QTest::keyClick(stepper, Qt::Key_End);
            QTest::keyClick(stepper, Qt::Key_Backspace);
            QCOMPARE(stepper->text(), QString());
            QTest::keyClick(stepper, key);
            QCOMPARE(stepper->text(), QString("1"));
        };
        emptyRate(Qt::Key_Tab);
        QCOMPARE(editor->focusWidget(), editor->findChild<QWidget*>("enterButton"));
        slider->setValue(0);
        emptyRate(Qt::Key_Return);
        QCOMPARE(w.cropWindow().frameArray().size(), 1u);
        slider->setValue(500);
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(w.cropWindow().frameArray().size(), 2u);
        QCOMPARE(w.cropWindow().frameArray()[1].frame, w.cropWindow().frame);

        // An index at the count (as a read file can leave it) shows the last image.
        w.cropWindow().frame = 60;
        QCOMPARE(editor->cropView()->shownIndex(), 59u);
        editor->close();
        QVERIFY(!editor->isVisible() && w.isVisible());
    }

    // The rectangle of a 1080p movie in an 800 x 450 preview: where it
    // starts, its colour, and the mouse resizing and moving it.
    void editorRectangleRules()
    {
        MVWindow w;
        w.show();
        listNewImages(w, "hd", 3, 1920, 1080);
        choose(box(w, "scaleButton"), box(w, "scaleButton")->itemText(6));
        QCOMPARE(w.settings().format, 1);
        choose(box(w, "cropButton"), "Custom");
        auto* editor = w.editorWindow();
        auto* view = editor->cropView();
        editor->resize(800, 450 + 81);
        QTRY_COMPARE_WITH_TIMEOUT(view->size(), QSize(800, 450), kPatience);
        waitPicture(view);
        auto& g = view->geometry();
        QCOMPARE(g.cropRect(), (mv::Rect{0, 0, 800, 450}));
        QVERIFY(std::abs(g.scale() - 0.4167f) < 1e-4);
        QCOMPARE(pixel(view, 0, 225), QColor(Qt::green));
        // Outside the handle the mouse resizes it, the handle moves it; the
        // limits of both are the geometry's (editor_test).
        Mouse m{view, {}};
        m.dragFrom({700, 400}, -400, 0, 8);
        QCOMPARE(g.cropRect().width, 400.0);
        QCOMPARE(pixel(view, 0, 100), QColor(Qt::red));
        m.dragFrom({200, 112.5}, 200, 0, 4);
        QCOMPARE(g.cropRect().x, 200.0);

        // The date stamp shows where the movie draws it on the rectangle's
        // frame: 10 output pixels in from its lower left, at its scale.
        const QImage plain = view->grab().toImage();
        w.findChild<QCheckBox*>("dateCheckbox")->click();
        QVERIFY(w.settings().isDateStamped);
        const QImage stamped = view->grab().toImage();
        QRect changed;
        for (int y = 0; y < plain.height(); ++y)
            for (int x = 0; x < plain.width(); ++x)
                if (plain.pixel(x, y) != stamped.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
        mv::RgbaBitmap stamp;
        QVERIFY(w.textLayer()->stampBitmap(stamp));
        const mv::Rect at = g.stampRect(stamp.width, stamp.height);
        QCOMPARE(at.x, 200 + 10 * 400 / 1920.0);
        const QRect expected = QRectF(at.x, 450 - at.y - at.height, at.width, at.height).toAlignedRect();
        QVERIFY2(!changed.isEmpty() && expected.adjusted(-1, -1, 1, 1).contains(changed),
                 qPrintable(QString("changed %1,%2 %3x%4").arg(changed.x()).arg(changed.y()).arg(changed.width())
                                .arg(changed.height())));

        // An image that cannot be shown: one alert, and nothing drawn of it.
        QVERIFY(writeFile(QString::fromStdString(w.imagesList().imageFiles()[1]), "broken"));
        Alerts alerts;
        editor->findChild<QSlider*>("frameSlider")->setValue(500);
        view->repaint();
        QTRY_COMPARE_WITH_TIMEOUT(alerts.titles, QStringList{"Image display error."}, kPatience);
        QVERIFY(view->picture().isNull());
    }

    // Keyframes entered through the editor's widgets make a movie that pans,
    // zooms and changes its colours as they say. In the keyframe list,
    // choosing one shows its image; removing the middle one of three makes
    // the movie that entering the outer two makes, and Undo brings it back.
    // Play walks the images and stops at a key, or by itself at the last one.
    // (That the animation file Enter wrote makes the same movie is
    // MovieFixture's check; that the command line follows such a file,
    // BatchCommand's.)
    void editorKeyframesMakeTheMovie()
    {
        MVWindow w;
        w.show();
        const QString dir = listNewImages(w, "pan", 60, 640, 360);
        set(w, {{"fpsButton", "10"}, {"scaleButton", "50%"}, {"codecButton", "JPEG"}, {"qualityButton", "Lossless"}});
        auto* editor = w.editorWindow();
        auto* view = editor->cropView();
        auto* slider = editor->findChild<QSlider*>("frameSlider");
        auto* enterButton = editor->findChild<QPushButton*>("enterButton");
        auto* read = editor->findChild<QPushButton*>("readButton");
        auto* openAnimation = w.findChild<QAction*>("fileItem6");
        auto* saturation = w.findChild<FloatSlider*>("saturationSlider");
        auto* sepia = w.findChild<FloatSlider*>("sepiaSlider");
        const auto go = [&](std::uint32_t image) { // by the arrow keys
            while (w.cropWindow().frame != image)
                QTest::keyClick(editor, w.cropWindow().frame < image ? Qt::Key_Right : Qt::Key_Left);
        };
        // At image 1 the whole image; at 30 half the width, moved up and
        // right, grey; at 60 further right and down, in sepia. Or the outer
        // two alone.
        QImage lastPreview;
        auto enterKeyframes = [&](bool middle) {
            QFile::remove(QString::fromStdString(w.cropWindow().animFile));
            choose(box(w, "cropButton"), "Custom");
            QTRY_COMPARE_WITH_TIMEOUT(view->size(), QSize(640, 360), kPatience);
            // Read and File > Open Animation wait for an animation file.
            QVERIFY(!read->isEnabled() && !openAnimation->isEnabled());
            saturation->setFloatValue(1);
            sepia->setFloatValue(0);
            waitPicture(view);
            QTest::mouseClick(enterButton, Qt::LeftButton);
            QCOMPARE(editor->minimumSize(), editor->maximumSize());
            QVERIFY(read->isEnabled() && openAnimation->isEnabled()); // the Enter wrote the file
            slider->setValue(492);
            QCOMPARE(w.cropWindow().frame, 29u);
            Mouse m{view, {}};
            m.dragFrom({600, 340}, -320, 0, 8);
            m.dragFrom({160, 90}, 100, 50, 5);
            if (middle) {
                saturation->setFloatValue(0);
                QTest::mouseClick(enterButton, Qt::LeftButton);
                saturation->setFloatValue(1);
            }
            slider->setValue(1000);
            m.dragFrom({260, 140}, 200, -40, 4);
            sepia->setFloatValue(0.6);
            waitPicture(view);
            lastPreview = view->picture();
            QTest::mouseClick(enterButton, Qt::LeftButton);
        };
        enterKeyframes(false);
        QCOMPARE(w.cropWindow().frameArray().size(), 2u);
        const QByteArray outer = makeMovie(w, tmp_.path() + "/outer.mov");
        enterKeyframes(true);
        QCOMPARE(w.cropWindow().frameArray().size(), 3u);
        saveShot(editor, "editor-keyframes");
        // The adjustment panel says that the keyframes' values win.
        auto* note = w.findChild<QLabel*>("keyframesNote");
        w.mvFilters(20);
        QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), kPatience);
        saveShot(w.adjustmentPanel(), "adjustment-panel-keyframes");
        w.mvFilters(20);

        // The movie reads the keyframes: no edits meanwhile.
        const QByteArray frames = makeMovie(w, tmp_.path() + "/panned.mov", [&] {
            QVERIFY(!editor->isEnabled() || status(w).startsWith("Complete"));
        });
        QVERIFY(editor->isEnabled());
        QCOMPARE(frames.size(), 60 * 320 * 180 * 3);
        // At the last keyframe the movie shows the rectangle of the adjusted
        // preview (the preview's pixels are the image's, the movie takes the
        // rectangle unscaled: half the preview's width is the movie's width).
        const QImage last = lastPreview.copy(300, 360 - 10 - 180, 320, 180);
        const double lastDiff = meanDiff(last, frameOf(frames, 59, 320, 180));
        QVERIFY2(lastDiff < 3, qPrintable(QString::number(lastDiff)));
        // The middle keyframe's image shows exactly its values: grey, its
        // rectangle.
        const QImage middle = frameOf(frames, 29, 320, 180);
        int colourful = 0;
        for (int y = 0; y < 180; y += 9)
            for (int x = 0; x < 320; x += 8) {
                const QColor c = middle.pixelColor(x, y);
                colourful += std::max({std::abs(c.red() - c.green()), std::abs(c.green() - c.blue())}) > 6;
            }
        QVERIFY2(colourful < 10, qPrintable(QString::number(colourful)));
        const QImage expectedGrey = QImage(dir + "/img_030.png").copy(100, 360 - 50 - 180, 320, 180);
        const double greyDiff = meanDiff(expectedGrey.convertToFormat(QImage::Format_Grayscale8),
                                         middle.convertToFormat(QImage::Format_Grayscale8));
        QVERIFY2(greyDiff < 6, qPrintable(QString::number(greyDiff)));
        // Between keyframes the movie's rectangle is drawn at this image.
        go(15);
        waitPicture(view);
        saveShot(editor, "editor-between-keyframes");

        editor->findChild<QPushButton*>("keyframesButton")->click();
        auto* panel = editor->keyframePanel();
        QVERIFY(panel && panel->isVisible());
        auto* list = panel->findChild<QTreeWidget*>("keyframeList");
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(1)->text(0), QString("30"));
        list->setCurrentItem(list->topLevelItem(1));
        QCOMPARE(w.cropWindow().frame, 29u);
        saveShot(panel, "keyframe-panel");
        panel->findChild<QPushButton*>("removeKeyframeButton")->click();
        QCOMPARE(list->topLevelItemCount(), 2);
        QVERIFY(!outer.isEmpty() && makeMovie(w, tmp_.path() + "/removed.mov") == outer);
        panel->findChild<QPushButton*>("undoKeyframeButton")->click();
        QCOMPARE(list->topLevelItemCount(), 3);
        QVERIFY(makeMovie(w, tmp_.path() + "/undone.mov") == frames);

        // Play from the first image; a key stops it where it is.
        go(0);
        editor->findChild<QPushButton*>("playButton")->click();
        QVERIFY(editor->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(w.cropWindow().frame >= 3, kPatience);
        QCOMPARE(slider->value(), mv::editor::sliderAtFrame(w.cropWindow().frame, 60));
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(!editor->isPlaying());
        const std::uint32_t stoppedAt = w.cropWindow().frame;
        QCoreApplication::processEvents();
        QCOMPARE(w.cropWindow().frame, stoppedAt);
        // Space plays again, to the last image.
        QTest::keyClick(editor, Qt::Key_Space);
        QVERIFY(editor->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isPlaying(), kPatience);
        QCOMPARE(w.cropWindow().frame, 59u);

        // Opened again, the editor reads the file back; a resize afterwards
        // drops the read animation whole, so no movie runs animated without
        // keyframes.
        choose(box(w, "cropButton"), "Custom");
        QVERIFY(read->isEnabled() && w.cropWindow().frameArray().empty());
        Alerts alerts;
        read->click();
        QCOMPARE(alerts.titles, QStringList{"You can Create Movie now"});
        QCOMPARE(w.cropWindow().frameArray().size(), 3u);
        QVERIFY(w.cropWindow().isReadAnim() && w.cropWindow().isAnimation());
        editor->resize(720, 720 * 360 / 640 + 81);
        QTRY_COMPARE_WITH_TIMEOUT(view->width(), 720, kPatience);
        QVERIFY(w.cropWindow().frameArray().empty());
        QVERIFY(!w.cropWindow().isReadAnim() && !w.cropWindow().isAnimation());
        w.mvFilters(20);
        QTRY_VERIFY_WITH_TIMEOUT(w.adjustmentPanel()->isVisible(), kPatience);
        QVERIFY(!note->isVisible());
        w.mvFilters(20);
    }

    // A file's window larger than the screen: the preview is held to the
    // screen at the same shape and the read animation stays, its keyframes
    // shown at the preview's scale. A first image too large opens the
    // editor held to the screen too, and the window can be made smaller.
    void editorReadHeldToTheScreen()
    {
        MVWindow w;
        w.show();
        listNewImages(w, "held", 3, 640, 360);
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        const int wide = std::min(4 * room.width(), 16000), high = wide * 9 / 16;
        QString text = QString("*** Moirevance 06 Dec 2026 07:00:00 ***\n\nImage: img_001.png (640X360)\n"
                               "Window: %1X%2\nImages: 3\nFPS: 25.00\nScale: HD720P\nCodec: H264\n"
                               "Quality: Low\nDateStamp: No\nGPS: No\nVertical: No\n\n*** Animation Sequence ***\n")
                           .arg(wide).arg(high);
        for (const auto& [frame, x] : {std::pair{1, 0}, {3, wide / 4}})
            text += QString("\nFrame: %1\nRate: 1X\ncropRect: (%2, 0, %3, %4)\nSaturation: 1.000\n"
                            "Brightness: 0.000\nContrast: 1.000\nExposure: 0.000\nMonoI: 0.000\n"
                            "MonoColor: 1 1 1 1\nSepia: 0.000\nBlur: 0.000\nRotate: 0.000\nAnimFPS: 30.0\n")
                        .arg(frame).arg(x).arg(wide / 2).arg(high / 2);
        QVERIFY(writeFile(QString::fromStdString(w.cropWindow().animFile), text.toLatin1()));
        choose(box(w, "cropButton"), "Custom");
        auto* editor = w.editorWindow();
        Alerts alerts;
        editor->findChild<QPushButton*>("readButton")->click();
        QCOMPARE(alerts.titles, QStringList{"You can Create Movie now"});
        QCoreApplication::processEvents();
        const QSize preview = editor->cropView()->size();
        QVERIFY2(editor->frameGeometry().width() <= room.width() && editor->frameGeometry().height() <= room.height(),
                 qPrintable(QString("%1x%2").arg(editor->width()).arg(editor->height())));
        QVERIFY(std::abs(preview.width() * 9 - preview.height() * 16) <= 16);
        QVERIFY(w.cropWindow().isReadAnim());
        QCOMPARE(w.cropWindow().frameArray().size(), 2u);
        const mv::Rect shown = w.cropWindow().inPreview(w.cropWindow().frameArray()[1].rect);
        QVERIFY(std::abs(shown.width - preview.width() / 2.0) <= 1);

        // A first image too tall for the screen: the editor opens held to
        // it, and whole on the screen though it was left at its corner.
        editor->move(room.right() - 100, room.bottom() - 100);
        w.imagesList().clearList();
        listNewImages(w, "tall", 2, 90, 400);
        QTRY_VERIFY_WITH_TIMEOUT(editor->isVisible(), kPatience);
        const QRect frame = editor->frameGeometry();
        QVERIFY2(room.contains(frame), qPrintable(QString("%1,%2 %3x%4").arg(frame.x()).arg(frame.y())
                                                      .arg(frame.width()).arg(frame.height())));
        QVERIFY(std::abs(editor->cropView()->width() * 400 - editor->cropView()->height() * 90) <= 400);
        // It can be made as small as its controls need, over a low preview.
        const QSize least = editor->minimumSizeHint();
        QCOMPARE(editor->minimumSize(), least);
        QVERIFY(least.width() <= 1024 && least.height() <= 600);
        editor->resize(least);
        QTRY_COMPARE_WITH_TIMEOUT(editor->size(), least, kPatience);
        QVERIFY(editor->cropView()->height() < frame.height() / 2);
        for (const char* name : {"frameSlider", "enterButton", "readButton", "rateStepper"}) {
            auto* control = editor->findChild<QWidget*>(name);
            QVERIFY2(editor->rect().contains(QRect(control->mapTo(editor, QPoint()), control->size())), name);
        }
    }
};

int main(int argc, char** argv)
{
    mv::initImageLibrary(argv[0]);
    QApplication app(argc, argv);
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "gui_test.moc"
