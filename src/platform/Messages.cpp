#include "platform/Messages.h"

#include <cstdio>

namespace platform {

namespace {

// The layer of a program without a desktop: one line per message on
// standard error, and the answer of the box's default button.
class TextMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer ErrorAbortIgnore(const QString& text) override {
        Write("error", text);
        return MsgAnswer::Abort;
    }
    void Information(const QString& text) override { Write("information", text); }
    void Plain(const QString& text) override { Write("message", text); }
    void Error(const QString& text) override { Write("error", text); }
    MsgAnswer YesNo(const QString& text) override {
        Write("question", text);
        return MsgAnswer::No;
    }
    MsgAnswer YesNoDefaultYes(const QString& text) override {
        Write("question", text);
        return MsgAnswer::Yes;
    }

private:
    static void Write(const char* kind, const QString& text) {
        std::fprintf(stderr, "Netsonde %s: %s\n", kind, text.toLocal8Bit().constData());
    }
};

std::unique_ptr<MessageBoxes> MakeTextMessageBoxes() {
    return std::make_unique<TextMessageBoxes>();
}

struct Layer {
    MessagesFactory makeDefault = &MakeTextMessageBoxes;
    std::unique_ptr<MessageBoxes> current;
    // The current layer came from makeDefault, not from SetMessages.
    bool currentIsDefault = true;
};

Layer& layer() {
    static Layer instance;
    return instance;
}

} // namespace

MessageBoxes& Messages() {
    Layer& l = layer();
    if (!l.current) {
        l.current = l.makeDefault();
        l.currentIsDefault = true;
    }
    return *l.current;
}

std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> replacement) {
    Layer& l = layer();
    std::unique_ptr<MessageBoxes> previous = std::move(l.current);
    l.currentIsDefault = replacement == nullptr;
    l.current = replacement ? std::move(replacement) : l.makeDefault();
    return previous;
}

void SetDefaultMessages(MessagesFactory factory) {
    Layer& l = layer();
    l.makeDefault = factory != nullptr ? factory : &MakeTextMessageBoxes;
    if (l.currentIsDefault)
        l.current.reset();
}

} // namespace platform
