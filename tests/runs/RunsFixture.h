// The runs of the main window without the window: a list of entries, the
// scripted echo and name services, and the controller's signals written
// down in order.
#pragma once

#include "runs/RunController.h"

#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "echo/TPingThread.h"
#include "platform/WinSock.h"
#include "support/EventWait.h"
#include "support/FakeIcmpService.h"
#include "support/FakeNameService.h"

#include <QTimer>
#include <QVector>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace netsonde::test {

// The entries as a plain list.
class Entries final : public runs::EntryList {
public:
    int Count() const override { return static_cast<int>(items.size()); }
    QString Item(int index) const override { return items.at(index); }
    QStringList Items() const override { return items; }
    int Selected() const override { return selected; }
    void Select(int index) override { selected = index; }

    QStringList items;
    int selected = -1;
};

class RunControllerTest : public testing::Test {
protected:
    void SetUp() override {
        names.AddHost("gateway", {"192.168.1.1"});
        service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
        binding.emplace();
        runs = std::make_unique<runs::RunController>(entries, &host);
        runs->SetNumber(10);
        // Ticks come only when a test fires them.
        runs->Tick()->setInterval(3600 * 1000);
        runs->ResetCheckKind();
        Record();
    }
    void TearDown() override {
        runs.reset();
        service.ReleaseAll();
        names.ReleaseAll();
        binding.reset();
        EXPECT_EQ(TPingThread::LiveCount(), 0);
        EXPECT_EQ(service.OpenHandles(), 0);
        EXPECT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    }
    // Writes every signal into events, in order.
    void Record() {
        using C = runs::RunController;
        auto* r = runs.get();
        QObject::connect(r, &C::Busy, [this] { events << "busy"; });
        QObject::connect(r, &C::Idle, [this] { events << "idle"; });
        QObject::connect(r, &C::Line, [this](const QString& text) { lines << text; });
        QObject::connect(r, &C::RunEnded, [this](const runs::RunEnd& end) {
            ends << end;
            events << (end.failed ? QStringLiteral("failed %1").arg(end.error)
                                  : QStringLiteral("ended"));
        });
        QObject::connect(r, &C::ResultsReady,
                         [this] { events << QStringLiteral("stored %1").arg(entries.Selected()); });
        QObject::connect(r, &C::CheckAllBegins, [this] { events << "all"; });
        QObject::connect(r, &C::EntryBegins,
                         [this](int index) { events << QStringLiteral("entry %1").arg(index); });
        QObject::connect(r, &C::CheckAllEnds, [this] { events << "all ended"; });
        QObject::connect(r, &C::RoundEnded, [this] { events << "round"; });
    }
    bool Idle() const { return !runs->Running() && runs->CheckKind() == rkNone; }

    FakeIcmpService service;
    FakeNameService names;
    std::optional<IcmpBindingScope> binding;
    // The form the components live on.
    QWidget host;
    Entries entries;
    std::unique_ptr<runs::RunController> runs;
    QStringList events;
    QStringList lines;
    QVector<runs::RunEnd> ends;
};

} // namespace netsonde::test
