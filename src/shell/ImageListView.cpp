#include "shell/ImageListView.h"

#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QUrl>

#include <algorithm>

namespace mv::shell {
namespace {
bool offersFiles(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls())
        return false;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return true;
    return false;
}
} // namespace

ImageListView::ImageListView(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName("imagesList");
    setAccessibleName(tr("Image list"));
    setToolTip(tr("The listed images in frame order. Drop image files or folders here to add them."));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    QFont f = font();
    f.setPointSizeF(9);
    setFont(f);
    setPlaceholderText(tr("Drop images or folders here, or use List Images."));
    setFocusPolicy(Qt::StrongFocus); // the arrow keys choose an image
}

void ImageListView::mousePressEvent(QMouseEvent* event)
{
    const QTextCursor at = cursorForPosition(event->position().toPoint());
    if (event->button() == Qt::LeftButton && !document()->isEmpty() && at.block().isValid() &&
        !at.block().text().isEmpty()) {
        setFocus(Qt::MouseFocusReason);
        chosen_ = at.blockNumber();
        emit lineChosen(chosen_);
    }
    event->accept();
}

void ImageListView::keyPressEvent(QKeyEvent* event)
{
    const int lines = document()->blockCount() - (document()->lastBlock().text().isEmpty() ? 1 : 0);
    const int page = std::max(1, viewport()->height() / std::max(1, int(lineHeight())) - 1);
    int line = chosen_;
    switch (event->key()) {
    case Qt::Key_Up: line = chosen_ < 0 ? 0 : chosen_ - 1; break;
    case Qt::Key_Down: line = chosen_ + 1; break;
    case Qt::Key_PageUp: line = chosen_ - page; break;
    case Qt::Key_PageDown: line = std::max(0, chosen_) + page; break;
    case Qt::Key_Home: line = 0; break;
    case Qt::Key_End: line = lines - 1; break;
    default: QPlainTextEdit::keyPressEvent(event); return;
    }
    line = std::clamp(line, 0, lines - 1);
    if (lines > 0 && line != chosen_) {
        chosen_ = line;
        emit lineChosen(chosen_);
    }
    event->accept();
}

double ImageListView::lineHeight() const { return fontMetrics().lineSpacing(); }

void ImageListView::highlightRange(int start, int length)
{
    QTextEdit::ExtraSelection sel;
    sel.cursor = QTextCursor(document());
    sel.cursor.setPosition(start);
    sel.cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    sel.format.setBackground(palette().color(QPalette::Active, QPalette::Highlight));
    sel.format.setForeground(palette().color(QPalette::Active, QPalette::HighlightedText));
    setExtraSelections({sel});
}

void ImageListView::scrollToY(double y)
{
    // The plain text view scrolls by lines.
    const double h = lineHeight();
    verticalScrollBar()->setValue(h > 0 ? static_cast<int>(y / h + 0.5) : 0);
}

void ImageListView::setDragOver(bool on)
{
    if (on == dragOver_)
        return;
    dragOver_ = on;
    if (on) {
        normalPalette_ = palette();
        QPalette p = normalPalette_;
        p.setColor(QPalette::Base, QColor(0xd9, 0xd9, 0xd9)); // light grey while files are over it
        setPalette(p);
    } else {
        setPalette(normalPalette_);
    }
}

void ImageListView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!accepting_ || !offersFiles(event->mimeData()) || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    setDragOver(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ImageListView::dragMoveEvent(QDragMoveEvent* event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ImageListView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDragOver(false);
    event->accept();
}

void ImageListView::dropEvent(QDropEvent* event)
{
    setDragOver(false);
    if (!accepting_ || !offersFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit filesDropped(paths);
}

} // namespace mv::shell
