#pragma once

#include <QString>
#include <memory>

namespace platform {

// Answers of the message boxes the program shows.
enum class MsgAnswer { Ok, Abort, Ignore, Yes, No };

// Every message box of the program goes through this layer, so that tests
// can answer and observe them without a modal window.
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
    // Modal question with the buttons Yes and No.
    virtual MsgAnswer YesNo(const QString& text) = 0;
};

// The layer in use: Qt's message boxes unless a replacement is installed.
MessageBoxes& Messages();
// Installs a replacement and returns the previous one; nullptr restores Qt's.
std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> replacement);

} // namespace platform
