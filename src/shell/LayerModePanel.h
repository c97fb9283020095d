#pragma once
// The main window's layer-mode panel: how the layer images are combined with
// the images, asked once they are listed.
#include <QDialog>

namespace mv::shell {

class LayerModePanel : public QDialog {
    Q_OBJECT
public:
    explicit LayerModePanel(QWidget* parent);

signals:
    // A BlendMode; the last one blends through mask images still to be chosen.
    void modeChosen(int mode);
};

} // namespace mv::shell
