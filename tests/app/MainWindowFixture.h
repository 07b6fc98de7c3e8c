#pragma once

#include "app/Tfm_ns.h"
#include "controls/TCBitBtn.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "echo/TPingThread.h"
#include "platform/WinSock.h"
#include "support/EventWait.h"
#include "support/FakeIcmpService.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeNameService.h"

#include <QDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace netsonde::test {

// The real main window over a scripted echo service and name service.
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        names.AddHost("gateway", {"192.168.1.1"});
        names.AddHost("far", {"10.20.30.40"});
        service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
        Open();
    }
    void TearDown() override {
        delete w;
        service.ReleaseAll();
        names.ReleaseAll();
        binding.reset();
        EXPECT_EQ(TPingThread::LiveCount(), 0);
        EXPECT_EQ(service.OpenHandles(), 0);
        EXPECT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    }
    void Open() {
        binding.emplace();
        w = new Tfm_ns;
        w->OnTerminate = [this](QObject*) { ++terminated; };
        w->show();
    }
    void SetList(const QStringList& entries) {
        for (const QString& e : entries)
            w->lb_add->AddItem(e);
    }
    // Selects an entry as the user does.
    void Select(int index) {
        w->lb_add->SetItemIndex(index);
        w->lb_addClick(w->lb_add);
    }
    // Clicks a command and waits until the window is idle again.
    void Run(TCBitBtn* button) {
        button->click();
        ASSERT_TRUE(WaitUntil(
            [&] { return !w->Ping->Busy() && !w->Trace->Busy() && w->CheckKind() == rkNone; }));
    }
    // Runs a step from the window's event loop every millisecond until it
    // returns true, so that a test can act inside a nested wait.
    void Script(std::function<bool()> step) {
        auto* timer = new QTimer(w);
        timer->setInterval(1);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
            if (step())
                timer->deleteLater();
        });
        timer->start();
    }
    void Screenshot(QWidget* widget, const char* name) {
        QDir().mkpath(QStringLiteral(NETSONDE_SCREENSHOT_DIR));
        widget->grab().save(QStringLiteral(NETSONDE_SCREENSHOT_DIR "/%1.png").arg(name));
    }

    FakeIcmpService service;
    FakeNameService names;
    FakeMessageBoxes boxes;
    std::optional<IcmpBindingScope> binding;
    Tfm_ns* w = nullptr;
    int terminated = 0;
};

} // namespace netsonde::test
