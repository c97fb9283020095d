#pragma once
// The window's side of the user-interface ports. Every call may come from a
// worker; it reaches the widgets on the main thread, in order.
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports/UiPorts.h"

namespace mv::shell {

class MVWindow;
class MainThread;

class ShellPorts : public AlertPort,
                   public ListViewPort,
                   public MainWindowPort,
                   public FileDialogPort,
                   public ConvertPanelPort {
public:
    ShellPorts(MVWindow& window, MainThread& main, double lineHeight);

    // AlertPort
    AlertButton alert(const std::string& title, const std::string& message, bool withCancel) override;

    // ListViewPort
    void setText(const std::string& text) override;
    void appendText(const std::string& text) override;
    void setLabel(const std::string& label) override;
    void highlight(std::size_t offset, std::size_t length) override;
    void showImage(unsigned index) override;
    void scrollTo(double y) override;
    double documentHeight() const override;

    // FileDialogPort
    std::optional<std::vector<std::string>> chooseFiles(const std::string& title, const std::string& message,
                                                        const std::vector<std::string>& extensions) override;
    std::optional<std::vector<std::string>> openFiles(const OpenRequest& r) override;
    std::optional<SaveChoice> saveFile(const SaveRequest& r) override;

    // MainWindowPort
    void setCreateEnable(bool on) override;
    void setNumList(unsigned n) override;
    void setDateEnable(bool on) override;
    void setGPSEnable(bool on) override;
    void setTimeRangeChecked(bool on) override;
    void setDateSortEnable(bool on) override;
    void enableLayerMenu(bool on) override;
    void setCustomCropEnable(bool on) override;
    void enableVerifyMenu(bool on) override;
    void setWindowTitle(const std::string& title) override;
    void setCreateButtonTitle(const std::string& title) override;
    void setRunControlsEnabled(bool on) override;
    void setStatusText(const std::string& text) override;
    void setProgress(const Progress& p) override;

    // ConvertPanelPort
    void setImagesText(const std::string& text) override;
    void setTimeText(const std::string& text) override;
    void setSizeText(const std::string& text) override;
    void setConvertProgress(const Progress& p) override;
    void show() override;
    void hide() override;

private:
    MVWindow& w_;
    MainThread& main_;
    // A copy of the list's text where the caller runs, so that byte offsets
    // become character positions without asking the main thread.
    mutable std::mutex textMutex_;
    std::string text_;
    std::size_t lines_ = 0;
    double lineHeight_;
};

QString qs(const std::string& s);

} // namespace mv::shell
