// The Qt implementation of the user-interaction seam. It lives on the GUI thread; calls
// from other threads (the level worker) are carried over to it.
#pragma once

#include "core/Ui.h"

#include <QObject>

#include <functional>
#include <string>

class QWidget;

namespace app {

// The text a message box shows in its body: the text, or the caption when the text is empty.
QString messageBody(const std::string& text, const std::string& caption);
// The title of a message box: the caption, or the program's name when the caption is blank.
QString messageTitle(const std::string& caption);
// The filter line of a file dialog: the request's pattern with a German description
// ("Messdateien (*.mes)") and "Alle Dateien (*)".
QString fileFilterText(const core::FileDialogRequest& request);

// The kind of file a dialog's pattern ("*.mes") stands for; the dialogs of one kind start in
// the folder the last of them was left in: "Messdateien", "Impedanzdateien", "Bilder",
// "Konfigurationen", "Mikrofondateien", and "Exporte" for the text and exchange exports.
std::string folderKind(const std::string& pattern);

class QtUi : public QObject, public core::Ui
{
    Q_OBJECT
public:
    explicit QtUi(QObject* parent = nullptr);

    // The window message boxes and file dialogs belong to (may be null).
    void setOwner(QWidget* owner) { owner_ = owner; }
    // Dialog "Gleichstromwiderstand ?"; without it a simple number prompt stands in.
    void setDcResistanceDialog(std::function<bool(QWidget*, float, float&)> dialog)
    {
        dcDialog_ = std::move(dialog);
    }
    // Window-side reactions; set by the main window.
    std::function<void(core::RepaintTarget)> repaint;
    std::function<void(int, const QString&)> statusText;
    std::function<void(int)> viewShown;

    core::Answer messageBox(const std::string& text, const std::string& caption, core::Icon icon,
                            core::Buttons buttons) override;
    bool fileDialog(const core::FileDialogRequest& request, std::string& path) override;
    bool askDcResistance(float proposalOhm, float& valueOhm) override;
    void requestRepaint(core::RepaintTarget target) override;
    void setStatusText(int part, const std::string& text) override;
    void showView(int kind) override;

private:
    // Runs f on the GUI thread. Calls that return an answer wait for it; the others are
    // only posted, so a GUI thread that is itself waiting for the worker cannot deadlock.
    void onGui(const std::function<void()>& f, bool wait);

    QWidget* owner_ = nullptr;
    std::function<bool(QWidget*, float, float&)> dcDialog_;
};

} // namespace app
