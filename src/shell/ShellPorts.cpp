#include "shell/ShellPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTreeView>
#include <QLabel>
#include <QMessageBox>
#include <QFontMetrics>
#include <QSpacerItem>
#include <QPushButton>

#include <algorithm>
#include <filesystem>

#include "shell/ConvertPanel.h"
#include "shell/ImageListView.h"
#include "shell/MVWindow.h"
#include "shell/MainThread.h"

namespace mv::shell {

QString qs(const std::string& s) { return QString::fromStdString(s); }

namespace {
QString nameFilter(const QString& label, const std::vector<std::string>& extensions)
{
    QStringList patterns;
    for (const std::string& e : extensions)
        patterns << "*." + qs(e);
    patterns.removeDuplicates();
    return label + " (" + patterns.join(' ') + ")";
}

// The open dialog for images: files and folders may be chosen together; a
// single folder is opened, and "List Whole Folder" takes the folder shown.
class OpenDialog : public QFileDialog {
public:
    OpenDialog(QWidget* parent, const QString& title, const QString& message) : QFileDialog(parent, title)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
        auto* whole = new QPushButton(QObject::tr("List &Whole Folder"), this);
        whole->setObjectName("wholeFolderButton");
        whole->setToolTip(QObject::tr("List every image in the folder shown and in the folders below it"));
        QObject::connect(whole, &QPushButton::clicked, this, [this] {
            chosen = {directory().absolutePath()};
            QDialog::accept();
        });
        // Wide enough that size, kind and date show whole beside the names.
        resize(880, 520);
        if (auto* tree = findChild<QTreeView*>("treeView")) {
            const int widths[] = {280, 90, 120, 170};
            for (int c = 0; c < 4; ++c)
                tree->header()->resizeSection(c, widths[c]);
        }
        auto* text = new QLabel(message, this);
        text->setObjectName("messageText");
        auto* row = new QHBoxLayout;
        row->addWidget(whole);
        row->addSpacing(12);
        row->addWidget(text, 1);
        if (auto* grid = qobject_cast<QGridLayout*>(layout()))
            grid->addLayout(row, grid->rowCount(), 0, 1, -1);
    }
    QStringList chosen;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() > 1) {
            chosen = files;
            QDialog::accept();
            return;
        }
        chosen = files;
        QFileDialog::accept();
    }
};

std::vector<std::string> toPaths(const QStringList& list)
{
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(QDir::toNativeSeparators(s).toStdString());
    return out;
}
} // namespace

ShellPorts::ShellPorts(MVWindow& window, MainThread& main, double lineHeight)
    : w_(window), main_(main), lineHeight_(lineHeight)
{
}

// A short alert is narrower than its title bar needs: the window manager
// then cuts the program's name. The box keeps room for the title, with the
// title bar's buttons (a message box takes no minimum width of its own).
static void holdWidthForTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    QFont bold = box.font();
    bold.setBold(true);
    const int width = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 160;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

AlertButton ShellPorts::alert(const std::string& title, const std::string& message, bool withCancel)
{
    auto show = [this, title, message, withCancel] {
        QMessageBox box(&w_);
        box.setObjectName("alertPanel");
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(QCoreApplication::applicationName());
        box.setText(qs(title));
        if (message != " " && !message.empty())
            box.setInformativeText(qs(message));
        box.setStandardButtons(withCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        holdWidthForTitle(box);
        return box.exec() == QMessageBox::Cancel ? AlertButton::Cancel : AlertButton::OK;
    };
    // An alert with the single answer OK need not hold the worker: it shows
    // in its turn among the worker's other calls. Only a question waits.
    if (!withCancel && !MainThread::isMain()) {
        main_.post([this, show] {
            if (!main_.isClosing())
                show();
        });
        return AlertButton::OK;
    }
    return main_.ask<AlertButton>(show, AlertButton::OK);
}

void ShellPorts::setText(const std::string& text)
{
    {
        std::lock_guard lock(textMutex_);
        text_ = text;
        lines_ = text.empty() ? 0 : std::count(text.begin(), text.end(), '\n') + 1;
    }
    main_.post([this, t = qs(text)] {
        w_.listView_->setPlainText(t);
        w_.listView_->setExtraSelections({});
    });
}

void ShellPorts::appendText(const std::string& text)
{
    {
        std::lock_guard lock(textMutex_);
        if (text_.empty() || text_.back() == '\n')
            ++lines_;
        text_ += text;
    }
    main_.post([this, t = qs(text)] {
        QTextCursor cursor(w_.listView_->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(t);
    });
}

void ShellPorts::setLabel(const std::string& label)
{
    main_.post([this, t = qs(label)] { w_.imagesText_->setText(t); });
}

void ShellPorts::showImage(unsigned index)
{
    main_.post([this, index] { w_.shownImage_ = index; });
}

void ShellPorts::highlight(std::size_t offset, std::size_t length)
{
    int start = 0, count = 0;
    {
        std::lock_guard lock(textMutex_);
        if (offset + length > text_.size())
            return;
        start = static_cast<int>(QString::fromUtf8(text_.data(), static_cast<qsizetype>(offset)).size());
        count = static_cast<int>(
            QString::fromUtf8(text_.data() + offset, static_cast<qsizetype>(length)).size());
    }
    main_.post([this, start, count] { w_.listView_->highlightRange(start, count); });
}

void ShellPorts::scrollTo(double y)
{
    main_.post([this, y] { w_.listView_->scrollToY(y); });
}

double ShellPorts::documentHeight() const
{
    std::lock_guard lock(textMutex_);
    return static_cast<double>(lines_) * lineHeight_;
}

std::optional<std::vector<std::string>> ShellPorts::chooseFiles(const std::string& title, const std::string& message,
                                                                const std::vector<std::string>& extensions)
{
    OpenRequest r;
    r.title = title;
    r.message = message;
    r.extensions = extensions;
    return openFiles(r);
}

std::optional<std::vector<std::string>> ShellPorts::openFiles(const OpenRequest& r)
{
    using Answer = std::optional<std::vector<std::string>>;
    return main_.ask<Answer>(
        [this, r]() -> Answer {
            OpenDialog dialog(&w_, qs(r.title), qs(r.message));
            dialog.setObjectName("openPanel");
            dialog.resize(760, 480);
            if (!r.multipleFiles)
                dialog.setFileMode(QFileDialog::ExistingFile);
            if (!r.extensions.empty())
                dialog.setNameFilter(nameFilter(QObject::tr("Images"), r.extensions));
            dialog.setLabelText(QFileDialog::Accept, QObject::tr("Open"));
            if (dialog.exec() != QDialog::Accepted)
                return std::nullopt;
            return toPaths(dialog.chosen.isEmpty() ? dialog.selectedFiles() : dialog.chosen);
        },
        std::nullopt);
}

std::optional<FileDialogPort::SaveChoice> ShellPorts::saveFile(const SaveRequest& r)
{
    using Answer = std::optional<SaveChoice>;
    return main_.ask<Answer>(
        [this, r]() -> Answer {
            QFileDialog dialog(&w_, qs(r.title));
            dialog.setObjectName("savePanel");
            dialog.resize(760, 480);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            if (!r.extensions.empty()) {
                dialog.setNameFilter(nameFilter(QObject::tr("Movies"), r.extensions));
                dialog.setDefaultSuffix(qs(r.extensions.front()));
            }
            dialog.setLabelText(QFileDialog::FileName, qs(r.message));
            if (!r.folder.empty() && QFileInfo(qs(r.folder)).isDir())
                dialog.setDirectory(qs(r.folder));
            dialog.selectFile(qs(r.proposedName) +
                              (r.extensions.empty() ? QString() : "." + qs(r.extensions.front())));
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::nullopt;
            const QString path = dialog.selectedFiles().front();
            // The dialog has asked before replacing an existing file.
            return SaveChoice{QDir::toNativeSeparators(path).toStdString(), QFileInfo::exists(path)};
        },
        std::nullopt);
}

void ShellPorts::setCreateEnable(bool on)
{
    main_.post([this, on] { w_.setCreateEnable(on); });
}
void ShellPorts::setNumList(unsigned n)
{
    main_.post([this, n] { w_.setNumList(n); });
}
void ShellPorts::setDateEnable(bool on)
{
    main_.post([this, on] { w_.setDateEnable(on); });
}
void ShellPorts::setGPSEnable(bool on)
{
    main_.post([this, on] { w_.setGPSEnable(on); });
}
void ShellPorts::setTimeRangeChecked(bool on)
{
    main_.post([this, on] { w_.setTimeRangeChecked(on); });
}
void ShellPorts::setDateSortEnable(bool on)
{
    main_.post([this, on] { w_.setDateSortEnable(on); });
}
void ShellPorts::enableLayerMenu(bool on)
{
    main_.post([this, on] { w_.enableLayerMenu(on); });
}
void ShellPorts::setCustomCropEnable(bool on)
{
    main_.post([this, on] { w_.setCustomCropEnable(on); });
}
void ShellPorts::enableVerifyMenu(bool on)
{
    main_.post([this, on] { w_.enableVerifyMenu(on); });
}
void ShellPorts::setWindowTitle(const std::string& title)
{
    main_.post([this, t = qs(title)] { w_.setBaseTitle(t); });
}
void ShellPorts::setCreateButtonTitle(const std::string& title)
{
    main_.post([this, t = qs(title)] {
        w_.createMovieButton_->setText(t);
        w_.createMovieButton_->setAccessibleName(t);
        if (QAction* item = w_.fileItems_[4])
            item->setText(t);
    });
}
void ShellPorts::setRunControlsEnabled(bool on)
{
    main_.post([this, on] { w_.setRunControlsEnabled(on); });
}
void ShellPorts::setStatusText(const std::string& text)
{
    main_.post([this, t = qs(text)] { w_.setStatusText(t); });
}

void ShellPorts::setProgress(const Progress& p)
{
    main_.post([this, p] { w_.showProgress(p); });
}
void ShellPorts::setConvertProgress(const Progress& p)
{
    main_.post([this, p] { w_.convertPanel_->setProgress(p); });
}
void ShellPorts::setImagesText(const std::string& text)
{
    main_.post([this, t = qs(text)] { w_.convertPanel_->setImagesText(t); });
}
void ShellPorts::setTimeText(const std::string& text)
{
    main_.post([this, t = qs(text)] { w_.convertPanel_->setTimeText(t); });
}
void ShellPorts::setSizeText(const std::string& text)
{
    main_.post([this, t = qs(text)] { w_.convertPanel_->setSizeText(t); });
}
void ShellPorts::show()
{
    main_.post([this] { w_.convertPanel_->show(); });
}
void ShellPorts::hide()
{
    main_.post([this] { w_.convertPanel_->hide(); });
}

} // namespace mv::shell
