#include "shell/WindowParts.h"

#include <QScreen>

#include "animation/EditorControls.h"

namespace mv::shell {

void placeBeside(QWidget* panel, const QWidget* anchor)
{
    const QRect room = anchor->screen()->availableGeometry();
    const QPoint beside = anchor->frameGeometry().topRight() + QPoint(8, 0);
    const QSize size = panel->frameGeometry().size().expandedTo(panel->sizeHint());
    const auto corner = editor::cornerWithin(beside.x(), beside.y(), size.width(), size.height(), room.x(), room.y(),
                                             room.width(), room.height());
    panel->move(corner.x, corner.y);
}

} // namespace mv::shell
