#include "shell/KeyframePanel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "animation/CropWindow.h"

namespace mv::shell {

KeyframePanel::KeyframePanel(QWidget* parent, CropWindow& model, std::function<void(std::uint32_t)> show,
                             std::function<void()> changed)
    : QDialog(parent, Qt::Tool), model_(model), show_(std::move(show)), changed_(std::move(changed))
{
    setObjectName("keyframePanel");
    setWindowTitle(tr("Keyframes"));
    auto* v = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("keyframeList");
    list_->setAccessibleName(tr("Keyframes"));
    list_->setToolTip(tr("Choose a keyframe to show its image; Delete removes it"));
    list_->setHeaderLabels({tr("Image"), tr("Rectangle (x, y, width, height)"), tr("Rate")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->setMinimumSize(360, 180);
    v->addWidget(list_);

    auto* buttons = new QDialogButtonBox(this);
    removeButton_ = buttons->addButton(tr("Re&move"), QDialogButtonBox::ActionRole);
    removeButton_->setObjectName("removeKeyframeButton");
    removeButton_->setToolTip(tr("Remove the chosen keyframe (Delete); the next one then starts from the one before"));
    undoButton_ = buttons->addButton(tr("&Undo"), QDialogButtonBox::ActionRole);
    undoButton_->setObjectName("undoKeyframeButton");
    undoButton_->setToolTip(tr("Take back the last Enter or removal (Ctrl+Z)"));
    buttons->addButton(QDialogButtonBox::Close);
    v->addWidget(buttons);

    connect(removeButton_, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(undoButton_, &QPushButton::clicked, this, [this] { undo(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(new QShortcut(QKeySequence::Delete, list_), &QShortcut::activated, this, [this] { removeSelected(); });
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this, [this] { undo(); });
    connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int k = item ? list_->indexOfTopLevelItem(item) : -1;
        removeButton_->setEnabled(k >= 0 && (k > 0 || model_.frameArray().size() == 1));
        if (k >= 0 && std::size_t(k) < model_.frameArray().size())
            show_(model_.frameArray()[std::size_t(k)].frame);
    });
    refresh();
}

void KeyframePanel::refresh()
{
    const int current = list_->currentIndex().row();
    {
        const QSignalBlocker block(list_);
        list_->clear();
        for (const frameS& k : model_.frameArray()) {
            const Rect r = k.rect;
            auto* item = new QTreeWidgetItem(
                {QString::number(k.frame + 1), QString::asprintf("%.0f, %.0f, %.0f, %.0f", r.x, r.y, r.width, r.height),
                 QString::asprintf("%dX", int(k.rate))});
            item->setTextAlignment(0, Qt::AlignRight);
            item->setTextAlignment(2, Qt::AlignRight);
            list_->addTopLevelItem(item);
        }
        if (list_->topLevelItemCount() > 0)
            list_->setCurrentItem(list_->topLevelItem(std::clamp(current, 0, list_->topLevelItemCount() - 1)));
    }
    const int k = list_->currentIndex().row();
    removeButton_->setEnabled(k >= 0 && (k > 0 || model_.frameArray().size() == 1));
    undoButton_->setEnabled(model_.canUndo());
}

void KeyframePanel::removeSelected()
{
    const int k = list_->currentIndex().row();
    if (k < 0 || !model_.removeKeyframe(std::size_t(k)))
        return;
    refresh();
    changed_();
}

void KeyframePanel::undo()
{
    if (!model_.undo())
        return;
    refresh();
    changed_();
}

} // namespace mv::shell
