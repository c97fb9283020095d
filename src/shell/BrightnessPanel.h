#pragma once
// The deflicker panel: the measured brightness of the listed images and the
// curve that deflicker will follow, after an analysis that runs on request
// in the background and can be stopped.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/BrightnessAnalysis.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace mv::shell {

class MainThread;
class BrightnessChart;

class BrightnessPanel : public QDialog {
    Q_OBJECT
signals:
    void gainsChanged();

public:
    // The listed images and the deflicker window (0: chosen) are asked for
    // when an analysis starts.
    BrightnessPanel(QWidget* parent, std::function<std::vector<std::string>()> files,
                    std::function<unsigned()> window);
    ~BrightnessPanel() override;

    // The window field changed: the curve is fitted again, without measuring.
    void windowChanged();
    // Other images are listed: the plot no longer shows them.
    void listChanged();

    // Each listed image's deflicker gain in EV from the last analysis;
    // empty before one, and once the list changed.
    const std::vector<float>& gains() const { return gains_; }

    void analyse();
    void stop();
    void reject() override;

private:
    void progress(std::uint64_t serial, unsigned done, unsigned total);
    void finished(std::uint64_t serial, std::optional<BrightnessAnalysis::Result> result);
    void setRunning(bool running);

    std::function<std::vector<std::string>()> files_;
    std::function<unsigned()> window_;
    BrightnessChart* chart_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton *analyseButton_ = nullptr, *stopButton_ = nullptr;
    std::uint64_t serial_ = 0; // of the answer awaited
    std::vector<float> gains_;
    std::unique_ptr<MainThread> main_;
    std::unique_ptr<BrightnessAnalysis> analysis_; // last: its thread ends first
};

} // namespace mv::shell
