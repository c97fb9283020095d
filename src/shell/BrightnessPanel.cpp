#include "shell/BrightnessPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <thread>

#include "render/BrightnessPlot.h"
#include "shell/MainThread.h"

namespace mv::shell {

// The chart, drawn by the same code as the command line's plot, at the
// widget's size in device pixels.
class BrightnessChart : public QWidget {
public:
    explicit BrightnessChart(QWidget* parent) : QWidget(parent)
    {
        setObjectName("brightnessChart");
        setAccessibleName(tr("Brightness chart"));
        setMinimumSize(480, 240);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void setResult(std::optional<BrightnessAnalysis::Result> result)
    {
        result_ = std::move(result);
        chart_ = QImage();
        update();
    }
    bool hasResult() const { return result_.has_value(); }

protected:
    void resizeEvent(QResizeEvent*) override { chart_ = QImage(); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        if (!result_) {
            p.fillRect(rect(), palette().base());
            p.setPen(palette().color(QPalette::PlaceholderText));
            p.drawText(rect(), Qt::AlignCenter, tr("No analysis yet"));
            return;
        }
        const qreal ratio = devicePixelRatioF();
        const QSize size = (QSizeF(this->size()) * ratio).toSize();
        if (chart_.size() != size) {
            plot_ = brightnessPlot(result_->series.brightness, result_->curve.target, size.width(), size.height());
            chart_ = QImage(plot_.pixels.data(), plot_.width, plot_.height, plot_.width * 4, QImage::Format_RGBA8888);
            chart_.setDevicePixelRatio(ratio);
        }
        p.drawImage(0, 0, chart_);
    }

private:
    std::optional<BrightnessAnalysis::Result> result_;
    RgbaBitmap plot_; // the pixels chart_ shows
    QImage chart_;
};

BrightnessPanel::BrightnessPanel(QWidget* parent, std::function<std::vector<std::string>()> files,
                                 std::function<unsigned()> window)
    : QDialog(parent, Qt::Tool), files_(std::move(files)), window_(std::move(window))
{
    setObjectName("brightnessPanel");
    setWindowTitle(tr("Deflicker Brightness"));
    auto* v = new QVBoxLayout(this);
    chart_ = new BrightnessChart(this);
    v->addWidget(chart_, 1);
    status_ = new QLabel(this);
    status_->setObjectName("brightnessStatus");
    status_->setWordWrap(true);
    v->addWidget(status_);
    auto* row = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName("brightnessProgress");
    progress_->setAccessibleName(tr("Analysis progress"));
    progress_->setTextVisible(true);
    row->addWidget(progress_, 1);
    // Alt+A and Alt+T belong to the main window, whose shortcuts a tool
    // window shares.
    analyseButton_ = new QPushButton(tr("Anal&yse"), this);
    analyseButton_->setObjectName("analyseButton");
    analyseButton_->setToolTip(tr("Measure the brightness of every listed image and fit the deflicker curve"));
    analyseButton_->setDefault(true);
    stopButton_ = new QPushButton(tr("Stop"), this);
    stopButton_->setObjectName("stopAnalysisButton");
    stopButton_->setToolTip(tr("Stop the analysis (Esc)"));
    row->addWidget(analyseButton_);
    row->addWidget(stopButton_);
    v->addLayout(row);
    connect(analyseButton_, &QPushButton::clicked, this, &BrightnessPanel::analyse);
    connect(stopButton_, &QPushButton::clicked, this, &BrightnessPanel::stop);
    resize(720, 420);

    main_ = std::make_unique<MainThread>(this);
    analysis_ = std::make_unique<BrightnessAnalysis>(
        [this](std::uint64_t serial, unsigned done, unsigned total) {
            main_->post([this, serial, done, total] { progress(serial, done, total); });
        },
        [this](std::uint64_t serial, std::optional<BrightnessAnalysis::Result> result) {
            auto shared = std::make_shared<std::optional<BrightnessAnalysis::Result>>(std::move(result));
            main_->post([this, serial, shared] { finished(serial, std::move(*shared)); });
        });
    listChanged();
}

BrightnessPanel::~BrightnessPanel()
{
    analysis_.reset(); // its thread ends before the panel it posts to
}

void BrightnessPanel::setRunning(bool running)
{
    analyseButton_->setEnabled(!running);
    stopButton_->setEnabled(running);
}

void BrightnessPanel::analyse()
{
    std::vector<std::string> files = files_();
    if (files.empty())
        return;
    progress_->setRange(0, static_cast<int>(files.size()));
    progress_->setValue(0);
    status_->setText(tr("Measuring the brightness of %n images…", nullptr, static_cast<int>(files.size())));
    setRunning(true);
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    serial_ = analysis_->start(std::move(files), window_(), threads);
}

void BrightnessPanel::stop() { analysis_->stop(); }

void BrightnessPanel::reject()
{
    // Esc stops an analysis under way; otherwise it closes the panel.
    if (stopButton_->isEnabled())
        stop();
    else
        QDialog::reject();
}

void BrightnessPanel::windowChanged()
{
    if (const auto serial = analysis_->refit(window_()))
        serial_ = *serial;
}

void BrightnessPanel::listChanged()
{
    if (!gains_.empty()) {
        gains_.clear();
        emit gainsChanged();
    }
    analysis_->stop();
    serial_ = 0; // whatever is under way is of the old list
    chart_->setResult(std::nullopt);
    progress_->reset();
    const auto count = static_cast<int>(files_().size());
    status_->setText(count == 0 ? tr("List images first, then analyse their brightness.")
                                : tr("Analyse measures the brightness of the %n listed images and shows the curve "
                                     "that deflicker follows.",
                                     nullptr, count));
    setRunning(false);
    analyseButton_->setEnabled(count > 0);
}

void BrightnessPanel::progress(std::uint64_t serial, unsigned done, unsigned total)
{
    if (serial != serial_)
        return;
    progress_->setValue(static_cast<int>(done));
    status_->setText(tr("Measuring brightness: %1 of %2 images…").arg(done).arg(total));
}

void BrightnessPanel::finished(std::uint64_t serial, std::optional<BrightnessAnalysis::Result> result)
{
    if (serial != serial_)
        return;
    setRunning(false);
    if (!result) {
        status_->setText(tr("Stopped. Analyse starts again."));
        return;
    }
    const auto& r = *result;
    int measured = 0;
    for (double b : r.series.brightness)
        measured += std::isfinite(b);
    const int unread = static_cast<int>(r.series.brightness.size()) - measured;
    QString text = tr("%n images measured", nullptr, measured);
    if (unread > 0)
        text += tr(", %n could not be read", nullptr, unread);
    text += ". ";
    text += (r.curve.degree == 2 ? tr("The curve bends through %n images at a time", nullptr, int(r.curve.window))
                                 : tr("The curve is straight through %n images at a time", nullptr,
                                      int(r.curve.window)));
    text += window_() == 0 ? tr(" (chosen from the images).") : tr(" (the window set).");
    if (r.curve.levelsExposure)
        text += " " + tr("The camera's exposure steps are levelled as recorded.");
    status_->setText(text);
    gains_ = deflickerGains(r.series, r.curve);
    emit gainsChanged();
    chart_->setResult(std::move(result));
}

} // namespace mv::shell
