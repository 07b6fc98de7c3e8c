// The alert watch's notices and the tray's mark after automatic rounds, on
// the real window with scripted echo answers and without any history: the
// notices go over a private session bus to a recording notification
// service that the test starts.
#include "alerts/AlertSettings.h"
#include "app/MainWindowFixture.h"
#include "app/TAlertWatch.h"
#include "desktop/Notices.h"
#include "support/ChildProcess.h"
#include "support/FakeNotifyArea.h"
#include "support/FakeSounds.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace netsonde::test {
namespace {

// The recording service, as a child process.
class NoticeServer {
public:
    explicit NoticeServer(const QStringList& arguments = {})
        : process(QCoreApplication::applicationDirPath() + "/notice_server", arguments) {
        ready = process.WaitForLine("ready");
    }
    // Every Notify call so far, one line each.
    QStringList Calls() {
        QStringList calls;
        for (const QString& line : process.Lines())
            if (line.startsWith("notify\t"))
                calls << line.mid(7);
        return calls;
    }
    // Waits until the calls sent before this one have arrived: a marker
    // sent on the same connection comes after them.
    QStringList CallsAfterMarker() {
        const QString marker = QStringLiteral("marker%1").arg(++markers);
        platform::SendNotice(marker, {}, false);
        EXPECT_TRUE(WaitUntil([&] { return Calls().join('\n').contains(marker); }, 10000));
        QStringList calls = Calls();
        calls.removeIf([](const QString& c) { return c.contains("marker"); });
        return calls;
    }
    bool ready = false;

private:
    ChildProcess process;
    int markers = 0;
};

class AlertNoticeTest : public MainWindowTest {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        MainWindowTest::SetUp();
        // No history: the watch gets its runs all the same.
        ASSERT_EQ(w->History(), nullptr);
        watch = new TAlertWatch(dir.filePath("config/alerts.conf"));
        alerts::AlertSettings settings = watch->Settings();
        settings.Thresholds.FailuresToDown = 1;
        settings.Thresholds.AnswersToUp = 1;
        watch->Apply(settings);
        w->SetAlerts(watch);
        plain = w->tray->Icon().pixmap(32).toImage();
    }
    void Answer(const char* host, bool answers) {
        service.SetAnswer(host,
                          answers ? FakeAnswer::Echo(host, 2) : FakeAnswer::IcmpError(host, 11003));
    }
    void Round() {
        w->TickTimer(w->Tick);
        ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    }
    bool Marked() { return w->tray->Icon().pixmap(32).toImage() != plain; }

    QTemporaryDir dir;
    FakeNotifyArea area;
    FakeSounds sounds;
    TAlertWatch* watch = nullptr;
    QImage plain;
};

TEST_F(AlertNoticeTest, ChangesOfARoundBecomeOneNoticeAndTheTrayShowsTheWorstState) {
    NoticeServer server;
    ASSERT_TRUE(server.ready);
    SetList({"192.168.1.1", "192.168.1.2", "192.168.1.3"});
    Answer("192.168.1.1", true);
    Answer("192.168.1.2", false);
    Answer("192.168.1.3", true);
    // The first round only learns the states; one host is down.
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    EXPECT_TRUE(Marked());
    EXPECT_EQ(w->tray->ToolTip(), "Netsonde");
    // The red mark is in the lower right corner.
    const QColor corner = w->tray->Icon().pixmap(32).toImage().pixelColor(26, 26);
    EXPECT_GT(corner.red(), 150);
    EXPECT_LT(corner.green(), 80);

    // Two hosts change in one round: one notice naming both.
    Answer("192.168.1.1", false);
    Answer("192.168.1.2", true);
    Round();
    QStringList calls = server.CallsAfterMarker();
    ASSERT_EQ(calls.size(), 1) << calls.join('\n').toStdString();
    const QStringList fields = calls.front().split('\t');
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields[0], "Netsonde");
    EXPECT_EQ(fields[2], "2 hosts changed state");
    EXPECT_TRUE(fields[3].contains(QRegularExpression(R"(^192\.168\.1\.1 down at \d\d:\d\d:\d\d)")))
        << fields[3].toStdString();
    EXPECT_TRUE(
        fields[3].contains(QRegularExpression(R"(\\n192\.168\.1\.2 up again at \d\d:\d\d:\d\d$)")))
        << fields[3].toStdString();
    EXPECT_TRUE(Marked());

    // No change: no notice. All answer again: the mark goes.
    Round();
    Answer("192.168.1.1", true);
    Round();
    calls = server.CallsAfterMarker();
    ASSERT_EQ(calls.size(), 2) << calls.join('\n').toStdString();
    EXPECT_TRUE(calls[1].startsWith("Netsonde\tnetsonde\t192.168.1.1 up again\tat "))
        << calls[1].toStdString();
    EXPECT_FALSE(Marked());
}

// A name in a notice reaches the desktop as written: a service that reads
// markup in bodies gets its special characters escaped, one that does not
// gets the text untouched.
TEST(Notices, NamesInTheBodyAreShownAsWritten) {
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    const QString body = QStringLiteral("<b>big</b> & <a href=\"x\">here</a> down");
    const struct {
        const char* server;
        QString arrives;
    } cases[] = {
        {"", body},
        {"--markup",
         QStringLiteral("&lt;b&gt;big&lt;/b&gt; &amp; &lt;a href=\"x\"&gt;here&lt;/a&gt; down")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        NoticeServer server(*c.server ? QStringList{c.server} : QStringList{});
        ASSERT_TRUE(server.ready);
        platform::SendNotice(QStringLiteral("1 host changed state"), body, false);
        const QStringList calls = server.CallsAfterMarker();
        ASSERT_EQ(calls.size(), 1);
        EXPECT_EQ(calls.front().split('\t').value(3), c.arrives);
    }
}

TEST_F(AlertNoticeTest, RunsOutsideTheAutomaticModeSendNothing) {
    NoticeServer server;
    ASSERT_TRUE(server.ready);
    SetList({"192.168.1.1"});
    Answer("192.168.1.1", true);
    Select(0);
    Run(w->bn_one);
    Answer("192.168.1.1", false);
    Run(w->bn_one);
    Run(w->bn_all);
    EXPECT_TRUE(server.CallsAfterMarker().isEmpty());
    EXPECT_FALSE(Marked());
}

TEST_F(AlertNoticeTest, WithoutANotificationServiceNothingFails) {
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        "org.freedesktop.Notifications"));
    SetList({"192.168.1.1"});
    Answer("192.168.1.1", true);
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    Answer("192.168.1.1", false);
    Round();
    EXPECT_TRUE(Marked());
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join('\n').toStdString();
    // The window carries on with the next round.
    Answer("192.168.1.1", true);
    Round();
    EXPECT_FALSE(Marked());
}

} // namespace
} // namespace netsonde::test
