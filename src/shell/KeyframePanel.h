#pragma once
// The animation editor's keyframes as a list (image, rectangle, rate): a
// keyframe chosen shows its image in the editor, and can be removed; Undo
// takes back the last Enter or removal. The rules are the model's.
#include <QDialog>
#include <functional>

class QPushButton;
class QTreeWidget;

namespace mv {
class CropWindow;
}

namespace mv::shell {

class KeyframePanel : public QDialog {
    Q_OBJECT
public:
    // `show` is asked to show an image; `changed` hears of every removal and
    // undo.
    KeyframePanel(QWidget* parent, CropWindow& model, std::function<void(std::uint32_t image)> show,
                  std::function<void()> changed);

    // The list as the model has it now.
    void refresh();
    void removeSelected();
    void undo();

private:
    CropWindow& model_;
    std::function<void(std::uint32_t)> show_;
    std::function<void()> changed_;
    QTreeWidget* list_ = nullptr;
    QPushButton *removeButton_ = nullptr, *undoButton_ = nullptr;
};

} // namespace mv::shell
