#pragma once

#include <QString>
#include <memory>

namespace platform {

// Answers of the message boxes the program shows.
enum class MsgAnswer { Ok, Abort, Ignore, Yes, No };

// Every message box of the program goes through this layer, so that tests
// can answer and observe them without a modal window, and so that the parts
// below the desktop can ask without knowing about windows. The desktop
// supplies the toolkit's boxes (desktop/MessageBoxes.h).
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

// Makes the layer that is in use while no replacement is installed.
using MessagesFactory = std::unique_ptr<MessageBoxes> (*)();

// The layer in use: the installed replacement, else the default layer.
MessageBoxes& Messages();
// Installs a replacement and returns the previous one; nullptr restores the
// default layer.
std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> replacement);
// Chooses the default layer. Until a program chooses one, the default writes
// each message to standard error and answers as Enter would in a box (Abort,
// No, or Yes for a question whose default is Yes).
void SetDefaultMessages(MessagesFactory factory);

} // namespace platform
