#pragma once
// The main window's watermark panel: the switch, the text and its place on
// the frame. Its controls report their commands by tag; the window
// dispatches them, and apply() puts what the panel shows into the settings.
#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QLineEdit;

namespace mv {
struct JobSettings;
}

namespace mv::shell {

class WatermarkPanel : public QDialog {
    Q_OBJECT
public:
    WatermarkPanel(JobSettings& settings, QWidget* parent);

    // The settings take the text, and the place across (tag 1), the place up
    // (tag 2) or the switch (tag 4) as `tag` (as MVWindow::mvWatermarkAction
    // takes it) says.
    void apply(int tag);
    // Every control shows the settings.
    void showSettings();

signals:
    void command(int tag);

protected:
    void showEvent(QShowEvent* e) override;

private:
    JobSettings& settings_;
    QButtonGroup *horizRadio_ = nullptr, *vertRadio_ = nullptr;
    QCheckBox* useCheckbox_ = nullptr;
    QLineEdit* text_ = nullptr;
};

} // namespace mv::shell
