#include "core/Ui.h"

#include "core/Strings.h"

#include <cstdio>
#include <sstream>

namespace core {

namespace {
NonInteractiveUi g_defaultUi(false);
Ui* g_ui = &g_defaultUi;

Answer firstButton(Buttons b)
{
    return (b == Buttons::YesNo || b == Buttons::YesNoCancel) ? Answer::Yes : Answer::Ok;
}

// Maps an answer onto the buttons really offered, so a script that says "yes" to an
// OK/Cancel box means OK.
Answer fit(Answer a, Buttons b)
{
    switch (b) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
        return (a == Answer::Yes || a == Answer::Ok) ? Answer::Ok : Answer::Cancel;
    case Buttons::YesNo:
        return (a == Answer::Yes || a == Answer::Ok) ? Answer::Yes : Answer::No;
    case Buttons::YesNoCancel:
        return (a == Answer::Yes || a == Answer::Ok) ? Answer::Yes : a;
    }
    return a;
}
} // namespace

Ui& ui() { return *g_ui; }
void setUi(Ui* u) { g_ui = u ? u : &g_defaultUi; }

Answer message(int textId, int captionId, Icon icon, Buttons buttons)
{
    return g_ui->messageBox(textId ? str(textId) : "", captionId ? str(captionId) : "", icon,
                            buttons);
}

Answer messageText(const std::string& text, const std::string& caption, Icon icon, Buttons buttons)
{
    return g_ui->messageBox(text, caption, icon, buttons);
}

Answer ScriptedUi::messageBox(const std::string& text, const std::string& caption, Icon icon,
                              Buttons buttons)
{
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({text, caption, icon, buttons});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    Answer a = firstButton(buttons);
    if (!answers_.empty()) {
        a = answers_.front();
        answers_.pop_front();
    }
    return fit(a, buttons);
}

bool ScriptedUi::fileDialog(const FileDialogRequest& request, std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fileRequests_.push_back(request);
    if (paths_.empty())
        return false;
    path = paths_.front();
    paths_.pop_front();
    return !path.empty();
}

bool ScriptedUi::askDcResistance(float proposalOhm, float& valueOhm)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dcProposals_.push_back(proposalOhm);
    float v = proposalOhm;
    if (!dcValues_.empty()) {
        v = dcValues_.front();
        dcValues_.pop_front();
    }
    if (v < 0.0f)
        return false;
    valueOhm = v;
    return true;
}

void ScriptedUi::requestRepaint(RepaintTarget target)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++repaints_[static_cast<int>(target)];
}

void ScriptedUi::setStatusText(int part, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    status_.emplace_back(part, text);
}

void ScriptedUi::showView(int kind)
{
    std::lock_guard<std::mutex> lock(mutex_);
    views_.push_back(kind);
}

void ScriptedUi::queueAnswer(Answer a)
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(a);
}

void ScriptedUi::queuePath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.push_back(path);
}

void ScriptedUi::queueDcResistance(float ohm)
{
    std::lock_guard<std::mutex> lock(mutex_);
    dcValues_.push_back(ohm);
}

std::vector<ScriptedUi::Message> ScriptedUi::messages()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<FileDialogRequest> ScriptedUi::fileRequests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fileRequests_;
}

std::vector<float> ScriptedUi::dcProposals()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dcProposals_;
}

std::vector<std::string> ScriptedUi::status(int part)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [p, t] : status_)
        if (p == part)
            out.push_back(t);
    return out;
}

std::vector<int> ScriptedUi::shownViews()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return views_;
}

int ScriptedUi::repaintCount(RepaintTarget target)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return repaints_[static_cast<int>(target)];
}

void ScriptedUi::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.clear();
    paths_.clear();
    dcValues_.clear();
    messages_.clear();
    fileRequests_.clear();
    dcProposals_.clear();
    status_.clear();
    views_.clear();
    for (int& r : repaints_)
        r = 0;
}

bool NonInteractiveUi::setAnswers(const std::string& list)
{
    std::stringstream ss(list);
    std::string word;
    while (std::getline(ss, word, ',')) {
        if (word.empty())
            continue;
        if (word == "yes" || word == "ja")
            queueAnswer(Answer::Yes);
        else if (word == "no" || word == "nein")
            queueAnswer(Answer::No);
        else if (word == "ok")
            queueAnswer(Answer::Ok);
        else if (word == "cancel" || word == "abbrechen")
            queueAnswer(Answer::Cancel);
        else
            return false;
    }
    return true;
}

Answer NonInteractiveUi::messageBox(const std::string& text, const std::string& caption, Icon icon,
                                    Buttons buttons)
{
    const Answer a = ScriptedUi::messageBox(text, caption, icon, buttons);
    if (echo_) {
        std::string c = caption;
        if (c == " ")
            c.clear();
        if (!c.empty())
            std::fprintf(stderr, "%s: %s\n", c.c_str(), text.c_str());
        else
            std::fprintf(stderr, "%s\n", text.c_str());
    }
    return a;
}

} // namespace core
