#pragma once
// The scrolling list of image names: one file name a line, the current image
// of a running movie highlighted, files and folders dropped onto it listed.
#include <QPlainTextEdit>
#include <QStringList>

namespace mv::shell {

class ImageListView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit ImageListView(QWidget* parent = nullptr);

    // Drops are refused while this is off (a list is being built, a movie made).
    void setAcceptingDrops(bool on) { accepting_ = on; }
    // Marks the characters [start, start + length) as the current image.
    void highlightRange(int start, int length);
    // Scrolls so that the line at `y` view units is at the top.
    void scrollToY(double y);
    double lineHeight() const;
    bool isDragOver() const { return dragOver_; }

    // The line chosen by a click or the arrow keys (-1: none yet).
    int chosenLine() const { return chosen_; }
    void setChosenLine(int line) { chosen_ = line; }

signals:
    // Local paths of the dropped files and folders, in the drop's order.
    void filesDropped(const QStringList& paths);
    // A line was clicked, or reached with Up, Down, Page Up, Page Down,
    // Home or End.
    void lineChosen(int line);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setDragOver(bool on);
    bool accepting_ = true;
    bool dragOver_ = false;
    int chosen_ = -1;
    QPalette normalPalette_;
};

} // namespace mv::shell
