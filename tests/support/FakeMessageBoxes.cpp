#include "support/FakeMessageBoxes.h"

namespace netsonde::test {

class RecordingBoxes final : public platform::MessageBoxes {
public:
    explicit RecordingBoxes(FakeMessageBoxes& owner) : owner(owner) {}
    platform::MsgAnswer ErrorAbortIgnore(const QString& text) override {
        owner.shown << QStringLiteral("error: ") + text;
        if (owner.answers.empty())
            return platform::MsgAnswer::Ignore;
        platform::MsgAnswer a = owner.answers.front();
        owner.answers.pop_front();
        return a;
    }
    void Information(const QString& text) override {
        owner.shown << QStringLiteral("information: ") + text;
    }
    void Plain(const QString& text) override { owner.shown << QStringLiteral("plain: ") + text; }
    void Error(const QString& text) override { owner.shown << QStringLiteral("error: ") + text; }
    platform::MsgAnswer YesNoDefaultYes(const QString& text) override {
        owner.defaultYes << text;
        return YesNo(text);
    }
    platform::MsgAnswer YesNo(const QString& text) override {
        owner.shown << QStringLiteral("question: ") + text;
        if (owner.answers.empty())
            return platform::MsgAnswer::Yes;
        platform::MsgAnswer a = owner.answers.front();
        owner.answers.pop_front();
        return a == platform::MsgAnswer::No ? platform::MsgAnswer::No : platform::MsgAnswer::Yes;
    }

private:
    FakeMessageBoxes& owner;
};

FakeMessageBoxes::FakeMessageBoxes() {
    previous = platform::SetMessages(std::make_unique<RecordingBoxes>(*this));
}

FakeMessageBoxes::~FakeMessageBoxes() {
    platform::SetMessages(std::move(previous));
}

void FakeMessageBoxes::AnswerNext(platform::MsgAnswer answer) {
    answers.push_back(answer);
}

} // namespace netsonde::test
