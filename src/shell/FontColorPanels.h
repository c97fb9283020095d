#pragma once
// The font and colour panels that the watermark, the date stamp and the
// monochrome tint share. They change the watermark while its panel is open,
// else the stamp after Stamp Font…, else (the colour) the tint; their titles
// say which.
#include <QObject>

class QColorDialog;
class QFontDialog;
class QWidget;

namespace mv {
struct FontSpec;
struct JobSettings;
struct RGBAColor;
} // namespace mv

namespace mv::shell {

class FontColorPanels : public QObject {
    Q_OBJECT
public:
    enum class Target { Tint, Stamp, Watermark };

    // Both panels are the window's; `watermarkPanel` is the watermark's.
    FontColorPanels(JobSettings& settings, QWidget* window, QWidget* watermarkPanel);

    QFontDialog* fontPanel() const { return font_; }
    QColorDialog* colorPanel() const { return color_; }
    Target target() const;
    bool isStamp() const { return stamp_; }

    // The panels show the watermark's style, without changing it.
    void showWatermarkStyle();
    // Font and Colour… and Stamp Font…: both panels with the style, the
    // colour panel beside the font panel; or neither. The stamp takes them
    // from the watermark.
    void toggleForWatermark();
    void toggleForStamp();
    // Tint Colour…: the colour panel alone.
    void showTint();
    void hide();
    // Every command but Stamp Font… ends their work on the stamp.
    void forgetStamp();
    // The watermark's panel closed: they go with it, unless the stamp has them.
    void watermarkClosed();
    void retitle();

signals:
    // The settings of the target took a new font or colour.
    void styleChanged(Target target);

private:
    void showStyle(const FontSpec& font, const RGBAColor& color);
    void toggle(const FontSpec& font, const RGBAColor& color);
    void fontChanged();
    void colorChanged();

    JobSettings& settings_;
    QWidget* watermarkPanel_;
    QFontDialog* font_ = nullptr;
    QColorDialog* color_ = nullptr;
    bool stamp_ = false;
};

} // namespace mv::shell
