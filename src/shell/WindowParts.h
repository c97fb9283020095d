#pragma once
// What the main window and its panels share: their texts, the colours and
// fonts of the settings as Qt's, and how panels are shown.
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QWidget>

#include "settings/JobSettings.h"

namespace mv::shell {

inline QString wt(const char* key) { return QCoreApplication::translate("MVWindow", key); }

inline QColor toQColor(const RGBAColor& c) { return QColor::fromRgbF(c.red, c.green, c.blue, c.alpha); }
inline RGBAColor fromQColor(const QColor& c) { return {c.redF(), c.greenF(), c.blueF(), c.alphaF()}; }
inline QFont toQFont(const FontSpec& f)
{
    const QString family = QString::fromStdString(f.family), style = QString::fromStdString(f.style);
    QFont font = style.isEmpty() ? QFont(family) : QFontDatabase::font(family, style, 12);
    font.setPointSizeF(f.pointSize > 0 ? f.pointSize : 12);
    return font;
}
// The panel's style name ("Bold Italic") goes with the family and size.
inline FontSpec fromQFont(const QFont& f)
{
    return {f.family().toStdString(), f.pointSizeF(), QFontDatabase::styleString(f).toStdString()};
}

inline void hideIfVisible(QWidget* w)
{
    if (w && w->isVisible())
        w->hide();
}
inline void showInFront(QWidget* w)
{
    w->show();
    w->raise();
    w->activateWindow();
}
// Shows a panel in front, or hides it if it shows.
inline void toggleShown(QWidget* w)
{
    if (w->isVisible())
        w->hide();
    else
        showInFront(w);
}
// A panel to the right of another, not over it, and on the screen.
void placeBeside(QWidget* panel, const QWidget* anchor);

} // namespace mv::shell
