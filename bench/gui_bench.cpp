// Measurements of the window, not checks (bench/editor.sh runs them): how
// quickly the main window's preview and the keyframe editor follow on large
// pictures, and how long the event loop waits while a big folder is listed.
// Each one is skipped unless its folder is given.
#include <algorithm>
#include <memory>

#include "GuiSupport.h"
#include "platform/picture/Picture.h"
#include "shell/EditorWindow.h"
#include "shell/FloatSlider.h"
#include "shell/FramePreviewView.h"
#include "shell/ImageListView.h"

using mv::shell::FloatSlider;
using namespace guitest;

class GuiBench : public QObject {
    Q_OBJECT

    // The main window shown with the pictures of MOIREVANCE_EDITOR_BENCH
    // listed; none when that is not set.
    static std::unique_ptr<MVWindow> listedWindow()
    {
        const QString dir = qEnvironmentVariable("MOIREVANCE_EDITOR_BENCH");
        if (dir.isEmpty())
            return nullptr;
        auto w = std::make_unique<MVWindow>();
        w->show();
        w->listPaths({dir});
        waitListed(*w);
        return w;
    }

private slots:
    // How long the main window's preview takes for a newly chosen image and
    // a change of saturation, at 720p and 1080p frames.
    void mainPreviewSpeed()
    {
        const auto window = listedWindow();
        if (!window)
            QSKIP("set MOIREVANCE_EDITOR_BENCH to measure");
        MVWindow& w = *window;
        auto* preview = w.framePreview();
        QElapsedTimer clock;
        qint64 shownAt = -1;
        QObject::connect(preview, &mv::shell::FramePreviewView::frameShown, [&] { shownAt = clock.elapsed(); });
        auto timed = [&](const std::function<void()>& change) {
            shownAt = -1;
            clock.start();
            change();
            QTRY_VERIFY_WITH_TIMEOUT(shownAt >= 0 && !preview->isLoading(), kPatience);
        };
        auto* scale = box(w, "scaleButton");
        for (const char* size : {"1280 × 720", "1920 × 1080"}) {
            choose(scale, scale->itemText(scale->findText(QString::fromUtf8(size), Qt::MatchContains)));
            timed([&] { w.chooseImage(0); });
            for (unsigned i = 1; i < w.imagesList().fileCount(); ++i) {
                timed([&] { QTest::keyClick(w.listView(), Qt::Key_Down); });
                std::printf("%s: image %u shown after %lld ms (frame made in %.0f ms)\n", size, i + 1, shownAt,
                            preview->lastMs());
            }
            for (double v : {1.5, 0.5, 1.0}) {
                timed([&] { w.findChild<FloatSlider*>("saturationSlider")->setFloatValue(v); });
                std::printf("%s: saturation %.1f shown after %lld ms\n", size, v, shownAt);
            }
        }
    }

    // How long the keyframe editor's preview takes for a new image and an
    // adjustment, and how fast it redraws while the rectangle is dragged.
    void editorSpeed()
    {
        const auto window = listedWindow();
        if (!window)
            QSKIP("set MOIREVANCE_EDITOR_BENCH to measure");
        MVWindow& w = *window;
        choose(box(w, "cropButton"), "Custom");
        auto* editor = w.editorWindow();
        auto* view = editor->cropView();
        waitPicture(view);
        // Timed to the moments the picture is handed to the view: a raw
        // file's camera preview first, then the developed picture.
        QElapsedTimer clock;
        qint64 shownAt = -1, draftAt = -1;
        QObject::connect(view, &mv::shell::CropView::pictureShown,
                         [&] { (view->lastTimes().draft ? draftAt : shownAt) = clock.elapsed(); });
        auto timed = [&](const std::function<void()>& change) {
            shownAt = draftAt = -1;
            clock.start();
            change();
            QTRY_VERIFY_WITH_TIMEOUT(shownAt >= 0 && !view->isLoading(), kPatience);
        };
        const unsigned n = w.imagesList().fileCount();
        for (unsigned i = 1; i < n; ++i) {
            timed([&] { QTest::keyClick(editor, Qt::Key_Right); });
            if (draftAt >= 0)
                std::printf("image %u: the camera's preview shown after %lld ms\n", i + 1, draftAt);
            std::printf("image %u shown after %lld ms (decode and scale %.0f ms, adjustments %.0f ms)\n", i + 1,
                        shownAt, view->lastTimes().loadMs, view->lastTimes().adjustMs);
        }
        // Play from the first image to the last.
        for (unsigned i = 1; i < n; ++i)
            QTest::keyClick(editor, Qt::Key_Left);
        waitPicture(view);
        clock.start();
        QTest::keyClick(editor, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isPlaying(), kPatience);
        std::printf("plays %.1f images a second at a %dx%d preview\n", (n - 1) * 1000.0 / clock.elapsed(),
                    view->width(), view->height());
        for (double v : {1.5, 0.5, 1.2}) {
            timed([&] { w.findChild<FloatSlider*>("saturationSlider")->setFloatValue(v); });
            std::printf("saturation %.1f shown after %lld ms (adjustments %.0f ms)\n", v, shownAt,
                        view->lastTimes().adjustMs);
        }
        Mouse m{view, {}};
        m.dragFrom({view->width() - 5.0, 5}, -view->width() / 2.0, 0, 4);
        const mv::Rect r = view->geometry().cropRect();
        m.press({r.x + r.width / 2, r.y + r.height / 2});
        clock.start();
        const int moves = 120;
        for (int i = 0; i < moves; ++i) {
            m.drag(i % 60 < 30 ? 2 : -2, 0);
            view->repaint();
        }
        const double fps = moves * 1000.0 / std::max<qint64>(1, clock.elapsed());
        m.release();
        std::printf("dragging redraws at %.0f frames per second\n", fps);
        QVERIFY(fps >= 30);
    }

    // MOIREVANCE_BENCH_DIR names a folder of many large images: how long
    // listing it takes, and the longest time the event loop does not run
    // meanwhile.
    void listingResponsiveness()
    {
        const QString dir = qEnvironmentVariable("MOIREVANCE_BENCH_DIR");
        if (dir.isEmpty())
            QSKIP("set MOIREVANCE_BENCH_DIR to measure");
        MVWindow w;
        w.show();
        Alerts alerts;
        QElapsedTimer clock, sinceTick;
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
        clock.start();
        sinceTick.start();
        tick.start(5);
        w.listPaths({dir});
        QTRY_VERIFY_WITH_TIMEOUT(!w.isListing(), 600000);
        tick.stop();
        std::printf("listed %u images in %lld ms; longest event-loop gap %lld ms\n", w.imagesList().fileCount(),
                    clock.elapsed(), longest);
        QVERIFY(longest < 100);
    }
};

int main(int argc, char** argv)
{
    mv::initImageLibrary(argv[0]);
    QApplication app(argc, argv);
    GuiBench bench;
    return QTest::qExec(&bench, argc, argv);
}
#include "gui_bench.moc"
