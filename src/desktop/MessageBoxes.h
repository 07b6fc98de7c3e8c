#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace platform {

// Answers of the message boxes the program shows.
enum class MsgAnswer { Ok, Abort, Ignore, Yes, No };

// Every message box of the program goes through this layer, so that tests
// can answer and observe them without a modal window. Each box is modal to
// the window that asked (the active modal window, else the active window)
// and placed over it.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Modal error box with the buttons Abort and Ignore.
    virtual MsgAnswer ErrorAbortIgnore(const QString& text) = 0;
    // Modal information message with one OK button.
    virtual void Information(const QString& text) = 0;
    // The toolkit's plain message box: the text and one OK button.
    virtual void Plain(const QString& text) = 0;
    // Modal error message with one OK button, e.g. for a file that cannot be
    // read or written.
    virtual void Error(const QString& text) = 0;
    // Modal question with the buttons Yes and No; Enter answers No.
    virtual MsgAnswer YesNo(const QString& text) = 0;
    // The same question where Enter answers Yes, for a question whose Yes
    // carries on with what the user asked for.
    virtual MsgAnswer YesNoDefaultYes(const QString& text) { return YesNo(text); }
};

// The window a message box belongs to: the active modal window, else the
// active window, else none.
QWidget* BoxOwner();

// The layer in use: Qt's message boxes unless a replacement is installed.
MessageBoxes& Messages();
// Installs a replacement and returns the previous one; nullptr restores Qt's.
std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> replacement);

} // namespace platform
