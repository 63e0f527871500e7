#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace korvane {

// The kinds of modal box the wizard shows.
enum class BoxKind {
    Information,   // caption AppName, no icon, OK
    Confirmation,  // caption "Confirm", question icon, &Yes (Enter) and &No (Esc)
    CustomYesNo,   // caption AppName, no icon, Yes (Enter) and No (Esc)
    Error,         // caption "Error", error icon, OK
    Exception,     // an escaped exception: caption AppName, error icon, OK
};

enum class BoxAnswer { Ok, Yes, No, Closed };

struct ShownBox {
    BoxKind kind;
    std::string text;  // as given, "\r" included
};

// Every message box of the wizard goes through here. Real runs show the platform's modal boxes
// centred on the screen; tests script the answers and read back what was shown.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    void Information(const std::string& text);
    // The Exit confirmation; true only for Yes.
    bool Confirm(const std::string& text);
    // As Confirm, but tells No apart from a box closed without an answer.
    BoxAnswer ConfirmAnswer(const std::string& text);
    // A Yes/No question without an icon; true only for Yes.
    bool AskYesNo(const std::string& text);
    void Error(const std::string& text);
    void ExceptionBox(const std::string& text);

    // Test mode: no box appears; each box takes the next queued answer (OK boxes need none;
    // an unanswered question counts as No) and is recorded.
    void SetScripted(bool scripted) { scripted_ = scripted; }
    void SetNextAnswer(BoxAnswer answer) { answers_.push_back(answer); }
    const std::vector<ShownBox>& Shown() const { return shown_; }
    // Called with each box as it is shown in test mode, to look at the windows meanwhile.
    std::function<void(const ShownBox&)> onShown;
    void ClearShown() {
        shown_.clear();
        answers_.clear();
    }

protected:
    virtual BoxAnswer Show(BoxKind kind, const std::string& text);

private:
    static BoxAnswer ShowModal(BoxKind kind, const std::string& text);
    BoxAnswer Ask(BoxKind kind, const std::string& text);

    bool scripted_ = false;
    std::deque<BoxAnswer> answers_;
    std::vector<ShownBox> shown_;
};

// The text of the default exception box: the message, with a full stop added when its last
// character sorts after ".".
std::string ExceptionBoxText(const std::string& message);

}  // namespace korvane
