#include "support/FakeNotifyArea.h"

#include "platform/WindowMessage.h"

#include <QCoreApplication>

namespace netsonde::test {

namespace {

class RecordingArea final : public platform::NotifyArea {
public:
    explicit RecordingArea(FakeNotifyArea& fake) : FFake(fake) {}

    bool NotifyIcon(unsigned message, const platform::NOTIFYICONDATA& data) override {
        FFake.calls.append({message, data});
        auto& icons = FFake.icons;
        qsizetype at = 0;
        while (at < icons.size() && !(icons[at].hWnd == data.hWnd && icons[at].uID == data.uID))
            ++at;
        const bool present = at < icons.size();
        switch (message) {
        case platform::NIM_ADD:
            if (present || !FFake.available)
                return false;
            icons.append(data);
            return true;
        case platform::NIM_MODIFY:
            if (!present)
                return false;
            icons[at] = data;
            return true;
        case platform::NIM_DELETE:
            if (!present)
                return false;
            icons.removeAt(at);
            return true;
        default:
            return false;
        }
    }

    bool Available() const override { return FFake.available; }

private:
    FakeNotifyArea& FFake;
};

} // namespace

FakeNotifyArea::FakeNotifyArea()
    : previous(platform::SetNotifyArea(std::make_unique<RecordingArea>(*this))) {}

FakeNotifyArea::~FakeNotifyArea() {
    platform::SetNotifyArea(std::move(previous));
}

bool FakeNotifyArea::Mouse(unsigned mouseMessage) {
    if (icons.size() != 1 || !icons[0].hWnd)
        return false;
    const platform::NOTIFYICONDATA icon = icons[0];
    platform::WindowMessage message(icon.uCallbackMessage, icon.uID, mouseMessage);
    QCoreApplication::sendEvent(icon.hWnd, &message);
    return true;
}

QList<unsigned> FakeNotifyArea::Messages() const {
    QList<unsigned> result;
    for (const Call& c : calls)
        result.append(c.message);
    return result;
}

} // namespace netsonde::test
