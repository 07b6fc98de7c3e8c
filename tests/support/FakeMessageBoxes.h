#pragma once

#include "platform/Messages.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

namespace netsonde::test {

// Records every message box and answers the Abort/Ignore and Yes/No boxes
// from one queue (Ignore or Yes when the queue is empty). Installed for its
// lifetime.
class FakeMessageBoxes {
public:
    FakeMessageBoxes();
    ~FakeMessageBoxes();

    void AnswerNext(platform::MsgAnswer answer);

    // "error: ...", "information: ...", "plain: ..." or "question: ..." per box
    // shown.
    QStringList shown;
    // The texts of the questions shown with Yes as their default answer.
    QStringList defaultYes;

private:
    std::deque<platform::MsgAnswer> answers;
    std::unique_ptr<platform::MessageBoxes> previous;
    friend class RecordingBoxes;
};

} // namespace netsonde::test
