// The main window's text panels: the watermark and layer-mode panels, and
// the font and colour panels they share with the stamp.
#include "shell/MVWindow.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdio>

#include "render/FrameMaker.h"
#include "shell/BrightnessPanel.h"
#include "shell/EditorWindow.h"
#include "shell/FloatSlider.h"
#include "shell/WindowParts.h"

namespace mv::shell {

void MVWindow::buildWatermarkPanel()
{
    watermarkPanel_ = new QDialog(this, Qt::Tool);
    watermarkPanel_->setObjectName("watermarkPanel");
    connect(watermarkPanel_, &QDialog::finished, this, [this] { hideWatermarkTextPanels(); });
    auto* v = new QVBoxLayout(watermarkPanel_);
    watermarkUseCheckbox_ = new QCheckBox(watermarkPanel_);
    watermarkUseCheckbox_->setObjectName("watermarkUseCheckbox");
    watermarkUseCheckbox_->setToolTip(tr("Draw the watermark text on every frame"));
    v->addWidget(watermarkUseCheckbox_);
    watermarkText_ = new QLineEdit(watermarkPanel_);
    watermarkText_->setObjectName("watermarkText");
    watermarkText_->setToolTip(tr("The watermark text"));
    watermarkText_->setMinimumWidth(320);
    v->addWidget(watermarkText_);
    auto* groups = new QHBoxLayout;
    auto group = [&](QButtonGroup*& g, const char* name, const QString& title, const QStringList& rows, int tag) {
        auto* box = new QWidget(watermarkPanel_);
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
        connect(g, &QButtonGroup::idClicked, this, [this, tag] { mvWatermarkAction(tag); });
        groups->addWidget(box);
    };
    group(watermarkHorizRadio_, "watermarkHorizRadio", tr("Horizontal"), {tr("Left"), tr("Centre"), tr("Right")}, 1);
    group(watermarkVertRadio_, "watermarkVertRadio", tr("Vertical"), {tr("Top"), tr("Middle"), tr("Bottom")}, 2);
    v->addLayout(groups);
    auto* font = new QPushButton(tr("Font and Colo&ur…"), watermarkPanel_);
    font->setObjectName("watermarkFontButton");
    font->setToolTip(tr("Show or hide the font and colour panels for the watermark"));
    v->addWidget(font);
    connect(font, &QPushButton::clicked, this, [this] { mvWatermarkAction(3); });
    connect(watermarkUseCheckbox_, &QCheckBox::clicked, this, [this] { mvWatermarkAction(4); });
    connect(watermarkText_, &QLineEdit::editingFinished, this, [this] { mvWatermarkAction(0); });
}

void MVWindow::buildLayerModePanel()
{
    layerModePanel_ = new QDialog(this, Qt::Tool);
    layerModePanel_->setObjectName("layerModePanel");
    auto* v = new QVBoxLayout(layerModePanel_);
    v->addWidget(new QLabel(tr("How the layer images are combined with the images:"), layerModePanel_));
    layerModeRadio_ = new QButtonGroup(layerModePanel_);
    const QStringList rows{tr("Lighten"), tr("Darken"), tr("Maximum"), tr("Minimum"), tr("Overlay"),
                           tr("Blend through mask images…")};
    for (int i = 0; i < rows.size(); ++i) {
        auto* r = new QRadioButton(rows[i], layerModePanel_);
        r->setObjectName("layerModeRadio" + QString::number(i));
        layerModeRadio_->addButton(r, i);
        v->addWidget(r);
    }
    connect(layerModeRadio_, &QButtonGroup::idClicked, this, &MVWindow::mvLayerModeAction);
}

void MVWindow::buildSharedPanels()
{
    fontPanel_ = new QFontDialog(this);
    fontPanel_->setObjectName("fontPanel");
    fontPanel_->setWindowFlag(Qt::Tool);
    fontPanel_->setOption(QFontDialog::NoButtons);
    fontPanel_->setModal(false);
    connect(fontPanel_, &QFontDialog::currentFontChanged, this, [this] { mvTextAction(); });
    colorPanel_ = new QColorDialog(Qt::white, this);
    colorPanel_->setObjectName("colorPanel");
    colorPanel_->setWindowFlag(Qt::Tool);
    colorPanel_->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::NoButtons);
    colorPanel_->setModal(false);
    connect(colorPanel_, &QColorDialog::currentColorChanged, this, [this] { mvColorAction(); });
}

// The renderer measures the text and makes its bitmap anew; it keeps a
// frame being drawn on the movie's thread whole while it does.
void MVWindow::handWatermarkToRenderer()
{
    textLayer_->watermarkText(settings_.watermarkFont, settings_.watermarkColor, settings_.watermarkStr,
                              settings_.wPosnX, settings_.wPosnY);
}

void MVWindow::handStampStyleToRenderer()
{
    textLayer_->dateText(settings_.textFont, settings_.textColor);
}

void MVWindow::mvWatermarkAction(int tag)
{
    forgetStampTarget();
    int x = static_cast<int>(settings_.wPosnX), y = static_cast<int>(settings_.wPosnY);
    switch (tag) {
    case 1:
        x = watermarkHorizRadio_->checkedId();
        if (x >= 3 || x < 0)
            x = 0;
        break;
    case 2:
        y = watermarkVertRadio_->checkedId();
        if (y >= 3 || y < 0)
            y = 0;
        break;
    case 3:
        if (fontPanel_->isVisible()) {
            fontPanel_->hide();
            hideIfVisible(colorPanel_);
        } else {
            QSignalBlocker bc(colorPanel_), bf(fontPanel_);
            colorPanel_->setCurrentColor(toQColor(settings_.watermarkColor));
            fontPanel_->setCurrentFont(toQFont(settings_.watermarkFont));
            showTextPanels();
        }
        break;
    case 4:
        settings_.useWatermark = watermarkUseCheckbox_->isChecked();
        if (!settings_.useWatermark) {
            hideIfVisible(fontPanel_);
            hideIfVisible(colorPanel_);
        }
        break;
    default:
        break;
    }
    settings_.watermarkStr = watermarkText_->text().toStdString();
    settings_.wPosnX = x;
    settings_.wPosnY = y;
    handWatermarkToRenderer();
}

void MVWindow::mvLayerModeAction(int row)
{
    settings_.overlayMode = static_cast<std::uint16_t>(row);
    if (row == 5) {
        startListing([this] {
            list_->setIsMaskImages(true);
            list_->selectFiles();
            list_->setIsMaskImages(false);
        });
    }
    layerModePanel_->hide();
}

void MVWindow::mvTextAction()
{
    if (watermarkPanel_->isVisible()) {
        settings_.watermarkFont = fromQFont(fontPanel_->currentFont());
        handWatermarkToRenderer();
    } else if (isTextFont_) {
        settings_.textFont = fromQFont(fontPanel_->currentFont());
        handStampStyleToRenderer();
    }
}

void MVWindow::mvColorAction()
{
    const QColor c = colorPanel_->currentColor();
    if (watermarkPanel_->isVisible()) {
        settings_.watermarkColor = fromQColor(c);
        handWatermarkToRenderer();
    } else if (isTextFont_) {
        settings_.textColor = fromQColor(c);
        handStampStyleToRenderer();
    } else {
        settings_.ciColor = {static_cast<float>(c.redF()), static_cast<float>(c.greenF()),
                             static_cast<float>(c.blueF())};
        settings_.isFilterChange = true;
        redrawPreview();
    }
}

// The colour panel beside the font panel, both titled for what they change.
void MVWindow::showTextPanels()
{
    titleTextPanels();
    fontPanel_->show();
    if (!colorPanel_->isVisible())
        placeBeside(colorPanel_, fontPanel_);
    colorPanel_->show();
    colorPanel_->raise();
    fontPanel_->raise();
    fontPanel_->activateWindow();
}

// The watermark's font and colour panels go with its panel.
void MVWindow::hideWatermarkTextPanels()
{
    if (!isTextFont_) {
        hideIfVisible(fontPanel_);
        hideIfVisible(colorPanel_);
    }
    titleTextPanels();
}

// Every command but Stamp Font… ends the panels' work on the stamp.
void MVWindow::forgetStampTarget()
{
    isTextFont_ = false;
    titleTextPanels();
}

// The font and colour panels change the watermark while its panel is open,
// else the stamp after Stamp Font…, else (colour) the tint: their titles say
// which.
void MVWindow::titleTextPanels()
{
    if (!fontPanel_ || !colorPanel_)
        return; // while the window is built
    const bool watermark = watermarkPanel_ && watermarkPanel_->isVisible();
    fontPanel_->setWindowTitle(watermark ? tr("Watermark Font") : tr("Stamp Font"));
    colorPanel_->setWindowTitle(watermark     ? tr("Watermark Colour")
                                : isTextFont_ ? tr("Stamp Colour")
                                              : tr("Tint Colour"));
}

void MVWindow::toggleFontPanelForStamp()
{
    if (!fontPanel_->isVisible()) {
        QSignalBlocker bc(colorPanel_), bf(fontPanel_);
        colorPanel_->setCurrentColor(toQColor(settings_.textColor));
        fontPanel_->setCurrentFont(toQFont(settings_.textFont));
        isTextFont_ = true;
        hideIfVisible(watermarkPanel_);
        showTextPanels();
    } else {
        fontPanel_->hide();
        hideIfVisible(colorPanel_);
    }
}

} // namespace mv::shell
