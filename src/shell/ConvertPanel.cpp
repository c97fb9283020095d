#include "shell/ConvertPanel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "render/RunTexts.h"

namespace mv::shell {

ConvertPanel::ConvertPanel(QWidget* parent) : QDialog(parent, Qt::Tool)
{
    setObjectName("convertPanel");
    setWindowTitle(tr("Movie to Frames"));
    auto* v = new QVBoxLayout(this);
    auto label = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(name);
        return l;
    };
    imagesText_ = label("convImagesText");
    timeText_ = label("convTimeText");
    sizeText_ = label("convSizeText");
    auto* stop = new QPushButton(tr("Stop"), this);
    stop->setObjectName("convStopButton");
    connect(stop, &QPushButton::clicked, this, &ConvertPanel::stopClicked);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("convProgress");
    progress_->setAccessibleName(tr("Progress"));
    progress_->setRange(0, 1000);
    for (QWidget* w : std::initializer_list<QWidget*>{imagesText_, progress_, timeText_, sizeText_, stop})
        v->addWidget(w);
    setMinimumWidth(280);
}

void ConvertPanel::setImagesText(const QString& text) { imagesText_->setText(text); }
void ConvertPanel::setTimeText(const QString& text) { timeText_->setText(text); }
void ConvertPanel::setSizeText(const QString& text) { sizeText_->setText(text); }

void ConvertPanel::setProgress(const Progress& p)
{
    progress_->setFormat(QString::fromStdString(progressText(p)));
    progress_->setValue(static_cast<int>(std::clamp(p.fraction, 0.0, 1.0) * 1000));
}

} // namespace mv::shell
