#pragma once

#include "echo/IcmpBinding.h"
#include "echo/TAxIcmpTask.h"
#include "echo/TPingThread.h"
#include "platform/WinSock.h"
#include "support/EventWait.h"
#include "support/FakeIcmpService.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeNameService.h"

#include <QStringList>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace netsonde::test {

// Records the events of a run in order, with the line the component offers
// for each: line(sender) is read in OnData, summary(sender) in OnFinished.
struct RunRecorder {
    QStringList events;
    int finished = 0;
    int errors = 0;

    void Attach(TAxIcmpTask& task, std::function<QString()> line,
                std::function<QString()> summary) {
        task.OnData = [this, line](QObject*, int status) {
            events << QStringLiteral("data %1 %2").arg(status).arg(line());
        };
        task.OnError = [this](QObject*, int code, const QString& msg) {
            ++errors;
            events << QStringLiteral("error %1 %2").arg(code).arg(msg);
        };
        task.OnFinished = [this, summary](QObject*) {
            ++finished;
            events << QStringLiteral("finished %1").arg(summary());
        };
    }
    bool Ended() const { return finished + errors > 0; }
};

// A form that owns the components, a scripted echo service and name service.
class RunTest : public testing::Test {
protected:
    void SetUp() override {
        binding.emplace();
        names.AddHost("gateway", {"192.168.1.1"});
        names.AddHost("far", {"10.20.30.40"});
    }
    void TearDown() override {
        service.ReleaseAll();
        names.ReleaseAll();
        binding.reset();
        EXPECT_EQ(TPingThread::LiveCount(), 0);
        EXPECT_EQ(service.OpenHandles(), 0);
        EXPECT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    }
    // Starts a run and waits until it has ended.
    void Run(TAxIcmpTask& task, RunRecorder& r, const QString& target) {
        task.Start(target);
        ASSERT_TRUE(WaitUntil([&] { return !task.Busy() && r.Ended(); }));
    }

    FakeIcmpService service;
    FakeNameService names;
    FakeMessageBoxes boxes;
    std::optional<IcmpBindingScope> binding;
    QWidget form;
};

} // namespace netsonde::test
