#pragma once
// The main window's adjustment panel: the picture adjustments' sliders, the
// smoothing and deflicker controls, and the listing options. Its controls
// report their commands by tag; the window dispatches them, and apply()
// puts what the panel shows into the settings.
#include <QDialog>
#include <QString>

#include <map>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace mv {
struct JobSettings;
}

namespace mv::shell {

class FloatSlider;

class AdjustmentPanel : public QDialog {
    Q_OBJECT
public:
    AdjustmentPanel(JobSettings& settings, QWidget* parent);

    // The settings take what the control of `tag` (as MVWindow::mvFilters
    // takes it) shows; a reset sets them and the sliders back.
    void apply(int tag);
    // Every control shows the settings.
    void showSettings();
    // The sliders and their labels show the settings again; at the start the
    // straighten label has hundredths.
    void showAdjustments(bool atStart = false);
    void setTimeRangeChecked(bool on);
    // Says that the movie takes its adjustments from the keyframes, whatever
    // the sliders show.
    void showKeyframesNote(bool on);

signals:
    void command(int tag);
    void brightnessWanted();
    // Shown, or made the active window: the keyframes may have changed in
    // the editor meanwhile.
    void activated();

protected:
    bool event(QEvent* e) override;

private:
    void setSlidersFromSettings();
    void readSliders();
    void writeLabels(bool atStart = false);

    JobSettings& settings_;
    std::map<QString, FloatSlider*> sliders_;
    std::map<QString, QLabel*> sliderLabels_;
    QCheckBox *skipCheckbox_ = nullptr, *animCheckbox_ = nullptr, *kmlCheckbox_ = nullptr,
              *verticalCheckbox_ = nullptr, *timeRangeCheckbox_ = nullptr, *tweenCheckbox_ = nullptr,
              *motionBlurCheckbox_ = nullptr, *deflickerCheckbox_ = nullptr;
    QSpinBox* deflickerWindowField_ = nullptr;
    QLineEdit *rangeFromText_ = nullptr, *rangeToText_ = nullptr;
    QLabel* keyframesNote_ = nullptr;
};

} // namespace mv::shell
