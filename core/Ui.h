// The user-interaction seam: message boxes, file dialogs, the DC-resistance prompt, repaint
// requests and status text. Implementations: Qt (app/), scripted (tests), non-interactive
// (orvo-tool). Callable from any thread; the Qt implementation marshals to the GUI thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace core {

enum class Icon { None, Information, Error, Question, Warning, Stop };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

struct FileDialogRequest {
    bool save = false;
    std::string title;          // UTF-8
    std::string filter;         // e.g. "(*.mes)"
    std::string pattern;        // e.g. "*.mes"
    std::string initialFolder;
    bool createPrompt = false;
};

enum class RepaintTarget { MainWindow, ZoomWindow, LevelDialog };

class Ui {
public:
    virtual ~Ui() = default;
    // Texts are UTF-8.
    virtual Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                              Buttons buttons) = 0;
    // Returns false when the user cancelled; otherwise `path` holds the chosen file.
    virtual bool fileDialog(const FileDialogRequest& request, std::string& path) = 0;
    // Dialog "Gleichstromwiderstand ?": proposal shown, false when cancelled. The dialog
    // itself keeps asking until the value is acceptable or the user cancels.
    virtual bool askDcResistance(float proposalOhm, float& valueOhm) = 0;
    virtual void requestRepaint(RepaintTarget target) { (void)target; }
    virtual void setStatusText(int part, const std::string& text)
    {
        (void)part;
        (void)text;
    }
    // Selects the view shown in the main window (runs switch to the time view etc.).
    virtual void showView(int kind) { (void)kind; }
};

Ui& ui();
void setUi(Ui* ui); // nullptr restores the default non-interactive implementation

// Message with texts taken from the string table; 0 means an empty text. The caption " "
// of hardware messages is passed as captionText.
Answer message(int textId, int captionId, Icon icon, Buttons buttons = Buttons::Ok);
Answer messageText(const std::string& text, const std::string& caption, Icon icon,
                   Buttons buttons = Buttons::Ok);

// Records every message and answers from queues: for tests and scripted runs.
class ScriptedUi : public Ui {
public:
    struct Message {
        std::string text;
        std::string caption;
        Icon icon;
        Buttons buttons;
    };

    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;
    bool fileDialog(const FileDialogRequest& request, std::string& path) override;
    bool askDcResistance(float proposalOhm, float& valueOhm) override;
    void requestRepaint(RepaintTarget target) override;
    void setStatusText(int part, const std::string& text) override;
    void showView(int kind) override;

    // Answers are used in order; with an empty queue the first button's answer (Ok or Yes)
    // is given.
    void queueAnswer(Answer a);
    // Paths for file dialogs in order; an empty string means Cancel; empty queue = Cancel.
    void queuePath(const std::string& path);
    // Values for the DC-resistance prompt; a negative value means Cancel; empty queue = the
    // proposal.
    void queueDcResistance(float ohm);

    std::vector<Message> messages();
    std::vector<FileDialogRequest> fileRequests();
    std::vector<float> dcProposals();
    std::vector<std::string> status(int part);
    std::vector<int> shownViews();
    int repaintCount(RepaintTarget target);
    void clear();

private:
    std::mutex mutex_;
    std::deque<Answer> answers_;
    std::deque<std::string> paths_;
    std::deque<float> dcValues_;
    std::vector<Message> messages_;
    std::vector<FileDialogRequest> fileRequests_;
    std::vector<float> dcProposals_;
    std::vector<std::pair<int, std::string>> status_;
    std::vector<int> views_;
    int repaints_[3]{};
};

// For orvo-tool: answers from a list ("yes,no,ok,cancel" ...), messages to stderr as
// "caption: text", file dialogs answered by the paths given.
class NonInteractiveUi : public ScriptedUi {
public:
    explicit NonInteractiveUi(bool echoMessages = true) : echo_(echoMessages) {}
    // Parses "yes,no,ok,cancel"; returns false on an unknown word.
    bool setAnswers(const std::string& list);
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;

private:
    bool echo_;
};

} // namespace core
