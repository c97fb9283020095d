#pragma once
// What the window's tests and its benchmarks share: pictures and movies made
// and read with the ffmpeg tools, alerts answered, boxes set and mouse drags
// sent as a person would, and waits that end as soon as the window is ready.
#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <cstdio>
#include <functional>

#include "shell/CropView.h"
#include "shell/MVWindow.h"

namespace guitest {

using mv::shell::MVWindow;

// How long a wait for the window may last before the test gives up. Each
// wait ends as soon as what it waits for happens; the limit is long so that a
// machine busy with other work is not mistaken for a fault.
constexpr int kPatience = 120000;

inline QString run(const QString& command)
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
inline void makeImages(const QString& dir, int n, int w = 64, int h = 48, const QString& prefix = "img")
{
    QDir().mkpath(dir);
    run(QString("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=%1x%2:rate=25 -frames:v %3 '%4/%5_")
            .arg(w)
            .arg(h)
            .arg(n)
            .arg(dir, prefix) +
        "%03d.png'");
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// "codec,width,height,frames" of the first video stream.
inline QString probe(const QString& movie)
{
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
               "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
               movie + "'");
}

// Raw RGB24 frames of a movie.
inline QByteArray rawFrames(const QString& movie)
{
    const QString out = movie + ".rgb";
    run("ffmpeg -v error -y -i '" + movie + "' -f rawvideo -pix_fmt rgb24 '" + out + "'");
    QFile f(out);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QImage frameOf(const QByteArray& raw, int index, int w, int h)
{
    return QImage(reinterpret_cast<const uchar*>(raw.constData()) + qsizetype(index) * w * h * 3, w, h, w * 3,
                  QImage::Format_RGB888)
        .copy();
}

inline double meanDiff(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size())
        return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return sum / (x.width() * x.height() * 3.0);
}

// Answers every alert with OK while it lives, and keeps their texts.
struct Alerts {
    QStringList titles, messages;
    QTimer timer;
    Alerts()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles << box->text();
                messages << box->informativeText();
                box->accept();
            }
        });
        timer.start(20);
    }
};

inline void waitListed(MVWindow& w)
{
    QTRY_VERIFY_WITH_TIMEOUT(!w.isListing(), kPatience);
    QCoreApplication::processEvents();
}

inline QComboBox* box(MVWindow& w, const char* name) { return w.findChild<QComboBox*>(name); }

inline void enter(QComboBox* combo, const QString& text)
{
    combo->setEditText(text);
    emit combo->lineEdit()->editingFinished();
}

inline void choose(QComboBox* combo, const QString& text)
{
    combo->setCurrentIndex(combo->findText(text));
    emit combo->activated(combo->currentIndex());
}

// The window's boxes set as a person would: text entered in an editable box,
// an entry chosen in another.
inline void set(MVWindow& w, std::initializer_list<std::pair<const char*, const char*>> boxes)
{
    for (const auto& [name, text] : boxes) {
        if (box(w, name)->isEditable())
            enter(box(w, name), text);
        else
            choose(box(w, name), text);
    }
}

inline QString status(MVWindow& w) { return w.findChild<QLabel*>("timeRemainText")->text(); }

// The movie's file, as the name dialog would give it.
inline void nameMovie(MVWindow& w, const QString& movie)
{
    w.movieRun().moviePath = movie.toStdString();
    w.movieRun().movieName = QFileInfo(movie).completeBaseName().toStdString();
    w.movieRun().hasMovieName = true;
}

// The list's movie made into `movie` by Create Movie; `meanwhile` runs while
// it is made. Its frames, empty when it was not finished in time.
inline QByteArray makeMovie(MVWindow& w, const QString& movie, const std::function<void()>& meanwhile = {})
{
    nameMovie(w, movie);
    w.findChild<QPushButton*>("createMovieButton")->click();
    if (meanwhile)
        meanwhile();
    if (!QTest::qWaitFor([&] { return status(w).startsWith("Complete"); }, kPatience))
        return {};
    return rawFrames(movie);
}

inline void saveShot(QWidget* w, const QString& name)
{
    QDir().mkpath(SCREENSHOT_DIR);
    w->grab().save(QString(SCREENSHOT_DIR) + "/" + name + ".png");
}

// Mouse drags on the preview, in its own units (origin lower left, y up).
struct Mouse {
    mv::shell::CropView* view;
    QPointF at;

    void send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        const QPointF p(at.x(), view->height() - at.y());
        QMouseEvent e(type, p, view->mapToGlobal(p), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &e);
    }
    void press(QPointF v)
    {
        at = v;
        send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    }
    // Moves by (dx, dy) in `steps` drag events.
    void drag(double dx, double dy, int steps = 1)
    {
        const QPointF start = at;
        for (int i = 1; i <= steps; ++i) {
            at = start + QPointF(dx, dy) * (double(i) / steps);
            send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
        }
    }
    void release() { send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton); }
    // A whole drag: pressed at `from`, moved, let go.
    void dragFrom(QPointF from, double dx, double dy, int steps)
    {
        press(from);
        drag(dx, dy, steps);
        release();
    }
};

// The colour of the preview's pixel at (x, y) in view units.
inline QColor pixel(mv::shell::CropView* view, int x, int y)
{
    return view->grab().toImage().pixelColor(x, view->height() - 1 - y);
}

inline void waitPicture(mv::shell::CropView* view)
{
    view->repaint();
    QTRY_VERIFY_WITH_TIMEOUT(!view->isLoading() && !view->picture().isNull(), kPatience);
}

} // namespace guitest
