// The real main window on the offscreen platform: listing by drop, the
// length and label rules, the enabling rules, a movie made by a click and
// checked with ffprobe, and a close while a movie is written.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QComboBox>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QScreen>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/Picture.h"
#include "shell/ImageListView.h"
#include "shell/MVWindow.h"

using mv::shell::MVWindow;

namespace {

QString run(const QString& command)
{
    QString out;
    if (FILE* p = popen(command.toLocal8Bit().constData(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += QString::fromLocal8Bit(buf);
        pclose(p);
    }
    return out.trimmed();
}

// n numbered test-pattern images of w x h in `dir`.
void makeImages(const QString& dir, int n, int w = 64, int h = 48, const QString& prefix = "img")
{
    QDir().mkpath(dir);
    run(QString("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=%1x%2:rate=25 -frames:v %3 '%4/%5_")
            .arg(w)
            .arg(h)
            .arg(n)
            .arg(dir, prefix) +
        "%03d.png'");
}

// "codec,width,height,frames" of the first video stream.
QString probe(const QString& movie)
{
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
               movie + "'");
}

// Answers the next alert with OK and tells its title.
std::shared_ptr<QString> answerNextAlert()
{
    auto title = std::make_shared<QString>();
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, title] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *title = box->text();
            box->accept();
            timer->deleteLater();
        }
    });
    timer->start();
    return title;
}

void waitListed(MVWindow& w)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w.isListing(), 20000);
    QCoreApplication::processEvents();
}

void enter(QComboBox* combo, const QString& text)
{
    combo->setEditText(text);
    emit combo->lineEdit()->editingFinished();
}

void choose(QComboBox* combo, const QString& text)
{
    combo->setCurrentIndex(combo->findText(text));
    emit combo->activated(combo->currentIndex());
}

// The movie's file, as the name dialog would give it.
void nameMovie(MVWindow& w, const QString& movie)
{
    w.movieRun().moviePath = movie.toStdString();
    w.movieRun().movieName = QFileInfo(movie).completeBaseName().toStdString();
    w.movieRun().hasMovieName = true;
}

QString status(MVWindow& w) { return w.findChild<QLabel*>("timeRemainText")->text(); }

void saveShot(QWidget* w, const QString& name)
{
    QDir().mkpath(SCREENSHOT_DIR);
    w->grab().save(QString(SCREENSHOT_DIR) + "/" + name + ".png");
}

} // namespace

class GuiTest : public QObject {
    Q_OBJECT
    QTemporaryDir tmp_;
    QString images_;

    // Shows the window with `count` images listed, set to write a TIFF movie
    // of the largest frame size (slow to make and to finish) at `movie`.
    void prepareLargeTiffMovie(MVWindow& w, int count, const QString& movie)
    {
        const QString dir = tmp_.path() + "/large-" + QString::number(count);
        makeImages(dir, count, 640, 480);
        w.show();
        w.listPaths({dir});
        waitListed(w);
        choose(w.findChild<QComboBox*>("codecButton"), "TIFF");
        auto* scale = w.findChild<QComboBox*>("scaleButton");
        choose(scale, scale->itemText(20));
        nameMovie(w, movie);
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", (tmp_.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (tmp_.path() + "/config").toLocal8Bit());
        images_ = tmp_.path() + "/hundred";
        makeImages(images_, 100);
    }

    // Controls start off until a list exists; a drop lists a folder and a
    // second drop adds to it; the view lines and the count follow.
    void dropListsAndEnables()
    {
        MVWindow w;
        w.show();
        auto* create = w.findChild<QPushButton*>("createMovieButton");
        auto* crop = w.findChild<QComboBox*>("cropButton");
        QVERIFY(!create->isEnabled());
        QVERIFY(!w.windowIcon().pixmap(48).isNull());
        QCOMPARE(create->accessibleName(), QString("Create Movie"));
        QCOMPARE(w.findChild<QPushButton*>("listImagesButton")->accessibleName(), QString("List Images"));
        QCOMPARE(w.findChild<QComboBox*>("fpsButton")->accessibleName(), QString("FPS"));

        // "Custom" without images: an alert and Middle again.
        auto title = answerNextAlert();
        crop->setCurrentIndex(3);
        w.mvAction(8);
        QCOMPARE(*title, QString("List images first."));
        QCOMPARE(crop->currentIndex(), 1);
        QCOMPARE(w.settings().crop, 2);

        const QString second = tmp_.path() + "/second";
        makeImages(second, 3, 64, 48, "zz");
        auto* view = w.listView();
        auto drop = [&](const QString& path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view->viewport(), &enter);
            QVERIFY(enter.isAccepted());
            QVERIFY(view->isDragOver());
            QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view->viewport(), &dropEvent);
            QVERIFY(!view->isDragOver());
            waitListed(w);
        };
        drop(images_);
        QCOMPARE(w.imagesList().fileCount(), 100u);
        QCOMPARE(w.findChild<QLabel*>("imagesText")->text(), QString("100 Images:"));
        QVERIFY(create->isEnabled());
        drop(second);
        QCOMPARE(w.imagesList().fileCount(), 103u);
        const QStringList lines = view->toPlainText().split('\n');
        QCOMPARE(lines.size(), 103);
        QCOMPARE(lines.first(), QString("img_001.png"));
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
        crop->setCurrentIndex(3);
        w.mvAction(8);
        QCOMPARE(w.settings().crop, 4);
        saveShot(&w, "main-window");
    }

    // List Images empties the list and asks, from the listing worker, with
    // the open dialog on the main thread; a whole folder is taken.
    void listImagesThroughDialog()
    {
        MVWindow w;
        w.show();
        w.listPaths({images_ + "/img_001.png"});
        waitListed(w);
        QTimer::singleShot(50, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("Image Files"));
            dialog->setDirectory(images_);
            QTest::qWait(300); // the folder is read in the background
            saveShot(dialog, "open-dialog");
            dialog->findChild<QPushButton*>("wholeFolderButton")->click();
        });
        w.findChild<QPushButton*>("listImagesButton")->click();
        QVERIFY(w.isListing() || w.imagesList().fileCount() == 100);
        waitListed(w);
        QCOMPARE(w.imagesList().fileCount(), 100u);
    }

    // The Verify List item: with Alt the file goes and the item is off;
    // without the file, an alert. A window off the only screen comes back.
    void verifyListAndPlacement()
    {
        MVWindow w;
        const QString verify = QString::fromStdString(w.workingFiles()->verifyFile);
        QFile file(verify);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("*** Moirevance Image Verification List ***\n");
        file.close();
        w.enableVerifyMenu(true);
        w.setOptionOverride(true);
        w.mvMenu(8);
        QVERIFY(!QFile::exists(verify));
        QVERIFY(!w.findChild<QAction*>("fileItem8")->isEnabled());
        w.setOptionOverride(false);
        auto title = answerNextAlert();
        w.mvMenu(8);
        QCOMPARE(*title, QString("The verify list file could not be found."));

        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        w.move(screen.right() - 50, screen.top() - 100);
        w.placeWindow();
        QCOMPARE(w.frameGeometry().left(), screen.left() + 30);
        QCOMPARE(w.frameGeometry().bottom(), screen.bottom() - 30);
    }

    // The length rule with FPS, tweening, and a rate entered with Alt.
    void lengthRule()
    {
        MVWindow w;
        w.listPaths({images_});
        waitListed(w);
        auto* fps = w.findChild<QComboBox*>("fpsButton");
        enter(fps, "25");
        QCOMPARE(status(w), QString("Length:  0m 4.0s"));

        auto* tween = w.findChild<QCheckBox*>("tweenCheckbox");
        auto* motion = w.findChild<QCheckBox*>("motionBlurCheckbox");
        motion->click();
        QVERIFY(w.settings().isMotionBlur);
        w.findChild<QSlider*>("tweenSlider")->setValue(3);
        tween->click();
        QVERIFY(w.settings().isTweening);
        QVERIFY(!w.settings().isMotionBlur);
        QVERIFY(!motion->isChecked());
        QVERIFY(!w.findChild<QSlider*>("motionSlider")->isEnabled());
        QCOMPARE(w.settings().tweenFrames, 3);
        QCOMPARE(status(w), QString("Length:  0m 15.9s"));
        tween->click();

        enter(fps, "10");
        w.setOptionOverride(true);
        enter(w.findChild<QComboBox*>("rateButton"), "2");
        w.setOptionOverride(false);
        QCOMPARE(w.settings().dupImages, 2);
        QCOMPARE(w.settings().rate, 1);
        QCOMPARE(w.findChild<QComboBox*>("rateButton")->currentText(), QString("1"));
        QCOMPARE(status(w), QString("Length:  0m 20.0s"));
        enter(fps, "10.0");
        QCOMPARE(status(w), QString("Length:  0m 10.0s"));
        w.setNumList(0);
        QCOMPARE(status(w), QString("Length:  0m 10.0s"));
    }

    // Slider labels in their units, the resets, and where a picked colour goes.
    void panels()
    {
        MVWindow w;
        w.show();
        auto* saturation = w.findChild<QSlider*>("saturationSlider");
        saturation->setValue(1500);
        QCOMPARE(w.settings().saturation, 1.5f);
        QCOMPARE(w.findChild<QLabel*>("saturationText")->text(), QString("50.0"));
        // Arrow keys step by 0.01, and by 0.001 with Alt held.
        QTest::keyClick(saturation, Qt::Key_Right);
        QCOMPARE(w.findChild<QLabel*>("saturationText")->text(), QString("51.0"));
        QTest::keyClick(saturation, Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(w.findChild<QLabel*>("saturationText")->text(), QString("50.9"));
        saturation->setValue(1500);
        w.settings().contrast = 0.75f;
        w.settings().exposureEV = 1.5f;
        w.settings().rotateAngle = 0.5f;
        w.settings().sepiaIntensity = 0.25f;
        w.showAdjustments();
        w.mvFilters(0); // a slider moved: the others keep their exact values
        auto label = [&](const char* name) { return w.findChild<QLabel*>(name)->text(); };
        QCOMPARE(label("contrastText"), QString("-25.0"));
        QCOMPARE(label("exposureText"), QString("1.50ev"));
        QCOMPARE(label("rotateText"), QString::fromUtf8("28.7°"));
        QCOMPARE(label("sepiaText"), QString("25.0%"));
        w.findChild<QPushButton*>("exposureResetButton")->click();
        QCOMPARE(w.settings().exposureEV, 0.0f);
        QCOMPARE(w.settings().sepiaIntensity, 0.25f);
        QCOMPARE(label("exposureText"), QString("0.00ev"));
        w.findChild<QPushButton*>("resetAllButton")->click();
        QCOMPARE(w.settings().saturation, 1.0f);
        QCOMPARE(w.settings().sepiaIntensity, 0.0f);

        // Skipping the checks turns the KML checkbox off without changing the option.
        auto* kml = w.findChild<QCheckBox*>("kmlCheckbox");
        kml->click();
        w.findChild<QCheckBox*>("skipCheckbox")->click();
        QVERIFY(!kml->isEnabled() && !kml->isChecked() && w.settings().isCreateKML);

        QColorDialog* colors = w.colorPanel();
        w.mvFilters(21); // watermark panel open: the colour is the watermark's
        colors->setCurrentColor(Qt::red);
        QCOMPARE(w.settings().watermarkColor.red, 1.0);
        QCOMPARE(w.settings().watermarkColor.green, 0.0);
        saveShot(w.watermarkPanel(), "watermark-panel");
        w.mvFilters(21);
        w.mvAction(13); // date-font button: the stamp's
        QVERIFY(w.isTextFont());
        saveShot(w.fontPanel(), "font-panel");
        colors->setCurrentColor(Qt::green);
        QCOMPARE(w.settings().textColor.green, 1.0);
        QCOMPARE(w.settings().textColor.red, 0.0);
        w.mvAction(11); // any other command: the monochrome tint's
        QVERIFY(!w.isTextFont());
        colors->setCurrentColor(Qt::blue);
        saveShot(colors, "colour-panel");
        QCOMPARE(w.settings().ciColor.blue, 1.0f);
        QCOMPARE(w.settings().ciColor.red, 0.0f);
        QCOMPARE(w.settings().textColor.green, 1.0);

        w.mvFilters(20);
        saveShot(w.filterPanel(), "adjustment-panel");
        w.layerModePanel()->show();
        saveShot(w.layerModePanel(), "layer-mode-panel");
        w.mvLayerModeAction(5);
        QCOMPARE(w.settings().overlayMode, 5);
        QVERIFY(!w.layerModePanel()->isVisible());
    }

    // One image is not a movie; two are. The movie is made by the button,
    // off the main thread, the list following it.
    void makeMovieByClick()
    {
        MVWindow w;
        w.show();
        auto* create = w.findChild<QPushButton*>("createMovieButton");
        const QString movie = tmp_.path() + "/clicked.mov";
        nameMovie(w, movie);

        w.listPaths({images_ + "/img_001.png"});
        waitListed(w);
        auto title = answerNextAlert();
        create->click();
        QCOMPARE(*title, QString("No images selected."));

        w.imagesList().clearList(); // as List Images does before its dialog
        w.listPaths({images_});
        waitListed(w);
        choose(w.findChild<QComboBox*>("codecButton"), "JPEG");
        enter(w.findChild<QComboBox*>("scaleButton"), "50%");
        enter(w.findChild<QComboBox*>("fpsButton"), "20");
        w.movieRun().hasMovieName = true; // the choices above ask for a new name
        create->click();
        QVERIFY(w.movieRun().isCreatingMovie() || status(w).startsWith("Complete"));
        QVERIFY(!w.findChild<QPushButton*>("listImagesButton")->isEnabled() || status(w).startsWith("Complete"));
        QTRY_VERIFY_WITH_TIMEOUT(status(w).startsWith("Complete"), 20000);
        QCOMPARE(create->text(), QString("Create Movie"));
        QVERIFY(w.findChild<QPushButton*>("listImagesButton")->isEnabled());
        QCOMPARE(w.findChild<QLabel*>("imagesText")->text(), QString("(100/100) Images:"));
        QVERIFY(w.listView()->extraSelections().size() == 1);
        QCOMPARE(probe(movie), QString("mjpeg,32,24,100"));
    }

    // Stop finishes the movie (a copy of it whole into its final file) off
    // the main thread: the click returns at once and the window goes on.
    void stopKeepsTheWindowResponsive()
    {
        const QString movie = tmp_.path() + "/stopped.mov";
        MVWindow w;
        prepareLargeTiffMovie(w, 40, movie);
        auto* create = w.findChild<QPushButton*>("createMovieButton");
        create->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.movieRun().actualImages() >= 8, 20000);
        QElapsedTimer clock;
        clock.start();
        create->click();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed()) + " ms"));
        QVERIFY(!create->isEnabled()); // no second stop or new movie meanwhile
        QTRY_VERIFY_WITH_TIMEOUT(!w.movieRun().isCreatingMovie() && create->isEnabled(), 20000);
        QVERIFY(w.movieRun().wasWritten());
        QVERIFY(probe(movie).startsWith("tiff,"));
    }

    // Closing the window while a movie is written keeps a finished movie and
    // the settings; the next window starts from them.
    void closeWhileRunning()
    {
        const QString movie = tmp_.path() + "/closed.mov";
        {
            MVWindow w;
            enter(w.findChild<QComboBox*>("fpsButton"), "12");
            prepareLargeTiffMovie(w, 120, movie);
            w.findChild<QPushButton*>("createMovieButton")->click();
            QVERIFY(w.movieRun().isCreatingMovie());
            QCOMPARE(w.findChild<QPushButton*>("createMovieButton")->text(), QString("Stop Movie"));
            for (const char* locked : {"listImagesButton", "fpsButton", "scaleButton", "codecButton", "rateButton"})
                QVERIFY2(!w.findChild<QWidget*>(locked)->isEnabled(), locked);
            QVERIFY(w.findChild<QPushButton*>("createMovieButton")->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(w.movieRun().actualImages() >= 2, 20000);
            w.close();
            QVERIFY(!w.movieRun().isCreatingMovie());
            QVERIFY(w.movieRun().wasWritten());
            const QStringList fields = probe(movie).split(',');
            QCOMPARE(fields.value(0), QString("tiff"));
            QVERIFY2(fields.value(3).toInt() >= 2 && fields.value(3).toInt() < 120, qPrintable(fields.join(',')));
        }
        MVWindow again;
        QCOMPARE(again.findChild<QComboBox*>("fpsButton")->currentText(), QString("12"));
        QCOMPARE(again.findChild<QComboBox*>("codecButton")->currentText(), QString("TIFF"));
        QCOMPARE(again.settings().format, 15);
    }

    // Measurement, not a check: MOIREVANCE_BENCH_DIR names a folder of many
    // large images. Prints how long listing it took and the longest time the
    // event loop did not run meanwhile.
    void listingResponsiveness()
    {
        const QString dir = qEnvironmentVariable("MOIREVANCE_BENCH_DIR");
        if (dir.isEmpty())
            QSKIP("set MOIREVANCE_BENCH_DIR to measure");
        MVWindow w;
        w.show();
        QElapsedTimer clock, sinceTick;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTick.restart());
        });
        auto title = answerNextAlert();
        clock.start();
        sinceTick.start();
        tick.start();
        w.listPaths({dir});
        QTRY_VERIFY_WITH_TIMEOUT(!w.isListing(), 600000);
        const qint64 total = clock.elapsed();
        tick.stop();
        std::printf("listed %u images in %lld ms; longest event-loop gap %lld ms\n", w.imagesList().fileCount(),
                    static_cast<long long>(total), static_cast<long long>(longest));
        QVERIFY(longest < 100);
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
