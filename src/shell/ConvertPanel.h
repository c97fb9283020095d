#pragma once
// The Movie to Frames panel: how far the movie's frames are written, and
// Stop.
#include <QDialog>

class QLabel;
class QProgressBar;

namespace mv {
struct Progress;
}

namespace mv::shell {

class ConvertPanel : public QDialog {
    Q_OBJECT
public:
    explicit ConvertPanel(QWidget* parent);

    void setImagesText(const QString& text);
    void setTimeText(const QString& text);
    void setSizeText(const QString& text);
    void setProgress(const Progress& p);

signals:
    void stopClicked();

private:
    QLabel *imagesText_ = nullptr, *timeText_ = nullptr, *sizeText_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

} // namespace mv::shell
