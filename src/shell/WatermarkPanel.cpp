#include "shell/WatermarkPanel.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "settings/JobSettings.h"

namespace mv::shell {

WatermarkPanel::WatermarkPanel(JobSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Tool), settings_(settings)
{
    setObjectName("watermarkPanel");
    setWindowTitle(tr("Watermark"));
    auto* v = new QVBoxLayout(this);
    useCheckbox_ = new QCheckBox(tr("Use watermark"), this);
    useCheckbox_->setObjectName("watermarkUseCheckbox");
    useCheckbox_->setAccessibleName(tr("Use watermark"));
    useCheckbox_->setToolTip(tr("Draw the watermark text on every frame"));
    v->addWidget(useCheckbox_);
    text_ = new QLineEdit(this);
    text_->setObjectName("watermarkText");
    text_->setAccessibleName(tr("Watermark text"));
    text_->setToolTip(tr("The watermark text"));
    text_->setMinimumWidth(320);
    v->addWidget(text_);
    auto* groups = new QHBoxLayout;
    auto group = [&](QButtonGroup*& g, const char* name, const QString& title, const QStringList& rows, int tag) {
        auto* box = new QWidget(this);
        box->setObjectName(name);
        box->setAccessibleName(title);
        auto* l = new QVBoxLayout(box);
        l->addWidget(new QLabel(title, box));
        g = new QButtonGroup(box);
        for (int i = 0; i < rows.size(); ++i) {
            auto* r = new QRadioButton(rows[i], box);
            r->setObjectName(QString(name) + QString::number(i));
            g->addButton(r, i);
            l->addWidget(r);
        }
        connect(g, &QButtonGroup::idClicked, this, [this, tag] { emit command(tag); });
        groups->addWidget(box);
    };
    group(horizRadio_, "watermarkHorizRadio", tr("Horizontal"), {tr("Left"), tr("Centre"), tr("Right")}, 1);
    group(vertRadio_, "watermarkVertRadio", tr("Vertical"), {tr("Top"), tr("Middle"), tr("Bottom")}, 2);
    v->addLayout(groups);
    auto* font = new QPushButton(tr("Font and Colo&ur…"), this);
    font->setObjectName("watermarkFontButton");
    font->setToolTip(tr("Show or hide the font and colour panels for the watermark"));
    v->addWidget(font);
    connect(font, &QPushButton::clicked, this, [this] { emit command(3); });
    connect(useCheckbox_, &QCheckBox::clicked, this, [this] { emit command(4); });
    connect(text_, &QLineEdit::editingFinished, this, [this] { emit command(0); });
}

void WatermarkPanel::showEvent(QShowEvent* e)
{
    useCheckbox_->setChecked(settings_.useWatermark);
    QDialog::showEvent(e);
}

void WatermarkPanel::showSettings()
{
    text_->setText(QString::fromStdString(settings_.watermarkStr));
    text_->setCursorPosition(0); // a long text shows its beginning
    horizRadio_->button(static_cast<int>(watermarkPlaceIn(settings_.wPosnX)))->setChecked(true);
    vertRadio_->button(static_cast<int>(watermarkPlaceIn(settings_.wPosnY)))->setChecked(true);
    useCheckbox_->setChecked(settings_.useWatermark);
}

void WatermarkPanel::apply(int tag)
{
    if (tag == 1)
        settings_.wPosnX = watermarkPlaceIn(horizRadio_->checkedId());
    else if (tag == 2)
        settings_.wPosnY = watermarkPlaceIn(vertRadio_->checkedId());
    else if (tag == 4)
        settings_.useWatermark = useCheckbox_->isChecked();
    settings_.watermarkStr = text_->text().toStdString();
}

} // namespace mv::shell
