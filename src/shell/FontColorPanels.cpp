#include "shell/FontColorPanels.h"

#include <QColorDialog>
#include <QFontDialog>
#include <QSignalBlocker>

#include "shell/WindowParts.h"

namespace mv::shell {

FontColorPanels::FontColorPanels(JobSettings& settings, QWidget* window, QWidget* watermarkPanel)
    : QObject(window), settings_(settings), watermarkPanel_(watermarkPanel)
{
    font_ = new QFontDialog(window);
    font_->setObjectName("fontPanel");
    font_->setWindowFlag(Qt::Tool);
    font_->setOption(QFontDialog::NoButtons);
    font_->setModal(false);
    connect(font_, &QFontDialog::currentFontChanged, this, &FontColorPanels::fontChanged);
    color_ = new QColorDialog(Qt::white, window);
    color_->setObjectName("colorPanel");
    color_->setWindowFlag(Qt::Tool);
    color_->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::NoButtons);
    color_->setModal(false);
    connect(color_, &QColorDialog::currentColorChanged, this, &FontColorPanels::colorChanged);
}

FontColorPanels::Target FontColorPanels::target() const
{
    if (watermarkPanel_->isVisible())
        return Target::Watermark;
    return stamp_ ? Target::Stamp : Target::Tint;
}

void FontColorPanels::fontChanged()
{
    const Target t = target();
    if (t == Target::Tint)
        return; // the tint has no font
    (t == Target::Watermark ? settings_.watermarkFont : settings_.textFont) = fromQFont(font_->currentFont());
    emit styleChanged(t);
}

void FontColorPanels::colorChanged()
{
    const QColor c = color_->currentColor();
    const Target t = target();
    if (t == Target::Tint)
        settings_.ciColor = {static_cast<float>(c.redF()), static_cast<float>(c.greenF()),
                             static_cast<float>(c.blueF())};
    else
        (t == Target::Watermark ? settings_.watermarkColor : settings_.textColor) = fromQColor(c);
    emit styleChanged(t);
}

void FontColorPanels::showStyle(const FontSpec& font, const RGBAColor& color)
{
    QSignalBlocker bc(color_), bf(font_);
    color_->setCurrentColor(toQColor(color));
    font_->setCurrentFont(toQFont(font));
}

void FontColorPanels::showWatermarkStyle() { showStyle(settings_.watermarkFont, settings_.watermarkColor); }

void FontColorPanels::toggle(const FontSpec& font, const RGBAColor& color)
{
    if (font_->isVisible()) {
        hide();
        return;
    }
    showStyle(font, color);
    retitle();
    font_->show();
    if (!color_->isVisible())
        placeBeside(color_, font_);
    color_->show();
    color_->raise();
    font_->raise();
    font_->activateWindow();
}

void FontColorPanels::toggleForWatermark() { toggle(settings_.watermarkFont, settings_.watermarkColor); }

void FontColorPanels::toggleForStamp()
{
    if (!font_->isVisible()) {
        stamp_ = true;
        hideIfVisible(watermarkPanel_);
    }
    toggle(settings_.textFont, settings_.textColor);
}

void FontColorPanels::showTint()
{
    QSignalBlocker b(color_);
    color_->setCurrentColor(QColor::fromRgbF(settings_.ciColor.red, settings_.ciColor.green, settings_.ciColor.blue));
    color_->show();
    color_->raise();
}

void FontColorPanels::hide()
{
    hideIfVisible(font_);
    hideIfVisible(color_);
}

void FontColorPanels::forgetStamp()
{
    stamp_ = false;
    retitle();
}

void FontColorPanels::watermarkClosed()
{
    if (!stamp_)
        hide();
    retitle();
}

void FontColorPanels::retitle()
{
    const Target t = target();
    font_->setWindowTitle(t == Target::Watermark ? tr("Watermark Font") : tr("Stamp Font"));
    color_->setWindowTitle(t == Target::Watermark ? tr("Watermark Colour")
                           : t == Target::Stamp   ? tr("Stamp Colour")
                                                  : tr("Tint Colour"));
}

} // namespace mv::shell
