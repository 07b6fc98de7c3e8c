// The window's ways into the notification area beside minimising, a desktop
// whose area comes and goes, and the start at login with the last session,
// on the real window with scripted services.
#include "MainWindowFixture.h"
#include "app/AutostartEntry.h"
#include "app/LastSession.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "desktop/NotifyArea.h"
#include "dialogs/Tfm_alerts.h"
#include "support/FakeNotifyArea.h"
#include "support/TestFiles.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <mutex>
#include <thread>
#include <vector>

namespace netsonde::test {
namespace {

class DesktopTest : public MainWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", folder.filePath("config").toLocal8Bit());
        MainWindowTest::SetUp();
        w->SetDesktopSettings(folder.filePath("config/Netsonde/desktop.conf"));
        w->SetLastSessionFolder(folder.filePath("data"));
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }
    bool Idle() const { return !w->Ping->Busy() && !w->Trace->Busy() && w->CheckKind() == rkNone; }
    void Minimise() { w->setWindowState(w->windowState() | Qt::WindowMinimized); }
    void Settle() { QCoreApplication::processEvents(); }
    int NoticesShown() const {
        return int(boxes.shown.filter(QStringLiteral("gnome-shell-extension-appindicator")).size());
    }

    QTemporaryDir folder;
    QByteArray savedConfig;
    FakeNotifyArea area;
    FakeMessageBoxes boxes;
};

TEST_F(DesktopTest, HideEntryGoesIntoTheAreaWithoutMinimisingAndAClickBringsTheWindowBack) {
    EXPECT_EQ(w->findChild<QAction*>("Hide1")->shortcut(),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    w->findChild<QAction*>("Hide1")->trigger();
    EXPECT_TRUE(w->isHidden());
    EXPECT_FALSE(w->isMinimized());
    ASSERT_EQ(area.icons.size(), 1);
    EXPECT_EQ(area.icons[0].szTip, "Netsonde");
    // Hiding twice adds no second icon.
    w->findChild<QAction*>("Hide1")->trigger();
    EXPECT_EQ(area.Messages().count(platform::NIM_ADD), 1);
    EXPECT_TRUE(w->Tick->isActive());

    area.Mouse(platform::WM_LBUTTONUP);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());
    EXPECT_TRUE(area.icons.isEmpty());
    EXPECT_FALSE(w->tray->Active());
    EXPECT_TRUE(w->Tick->isActive());
}

// With no area the window must stay reachable: Hide minimises instead, and
// the word on what to install comes once, also across starts.
TEST_F(DesktopTest, WithoutAnAreaHideMinimisesAndTheNoticeComesOnceForGood) {
    area.available = false;
    w->findChild<QAction*>("Hide1")->trigger();
    Settle();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    EXPECT_TRUE(area.icons.isEmpty());
    EXPECT_EQ(NoticesShown(), 1);
    EXPECT_TRUE(boxes.shown.join("").startsWith("information: "));

    w->showNormal();
    Minimise();
    Settle();
    EXPECT_EQ(NoticesShown(), 1);

    delete w;
    Open();
    w->SetDesktopSettings(folder.filePath("config/Netsonde/desktop.conf"));
    Minimise();
    Settle();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(NoticesShown(), 1);
}

// A panel that starts after the program (at login) takes the minimised
// window in; a panel that goes gives the hidden window back.
TEST_F(DesktopTest, AnAreaThatComesTakesTheWindowInAndOneThatGoesGivesItBack) {
    area.available = false;
    Minimise();
    EXPECT_TRUE(w->isVisible());
    area.available = true;
    platform::NotifyAreaChanged();
    EXPECT_TRUE(w->isHidden());
    EXPECT_EQ(area.icons.size(), 1);

    area.available = false;
    platform::NotifyAreaChanged();
    EXPECT_FALSE(w->tray->Active());
    EXPECT_TRUE(area.icons.isEmpty());
    EXPECT_FALSE(w->isHidden());
    EXPECT_TRUE(w->isMinimized());

    // A window in plain view is left alone when an area comes.
    w->showNormal();
    area.available = true;
    platform::NotifyAreaChanged();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->tray->Active());
}

TEST_F(DesktopTest, StartInTrayLandsInTheAreaOrStaysMinimisedWithoutOne) {
    delete w;
    Open();
    w->hide();
    w->StartInTray();
    EXPECT_TRUE(w->isHidden());
    EXPECT_TRUE(w->tray->Active());
    area.Mouse(platform::WM_LBUTTONUP);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());

    delete w;
    area.available = false;
    Open();
    w->hide();
    w->StartInTray();
    Settle();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    // Not at login: the panel may simply not be up yet.
    EXPECT_EQ(NoticesShown(), 0);
}

TEST_F(DesktopTest, LastSessionBringsBackListResultsSelectionOptionsAndTheMode) {
    SetList({"far", "gateway"});
    Select(1);
    Run(w->bn_one);
    w->ed_secs->setText("5");
    w->ed_number->setText("3");
    w->Ping1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    const QStringList results = w->Results(1);
    ASSERT_FALSE(results.isEmpty());
    const LastSession last(folder.filePath("data"));
    QString error;
    ASSERT_TRUE(last.Save(*w, error)) << error.toStdString();

    delete w;
    const std::size_t before = service.Requests().size();
    Open();
    last.Restore(*w);
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    ASSERT_EQ(w->lb_add->Count(), 2);
    EXPECT_FALSE(w->HasResults(0));
    EXPECT_EQ(w->lb_add->ItemIndex(), 1);
    EXPECT_EQ(w->AutoKind(), rkPing);
    EXPECT_TRUE(w->Tick->isActive());
    EXPECT_EQ(w->Tick->interval(), 5000);
    // The mode's first run went at once, with the option it was left with.
    EXPECT_EQ(service.Requests().size(), before + 3);
    EXPECT_EQ(w->Results(1), results);
}

// A start at login restores the session into a window that is not shown
// yet: the options it restores drive the mode from the first tick (also the
// smallest interval, which the field already shows before anything is
// restored), and the first show keeps them rather than the starting values.
TEST_F(DesktopTest, OptionsRestoredBeforeTheFirstShowDriveTheModeAndAreKept) {
    struct Saved {
        const char* pings;
        const char* size;
        const char* timeOut;
        const char* ttl;
        const char* seconds;
        bool resolve;
    };
    const Saved cases[] = {{"3", "120", "900", "7", "3", true},
                           {"1", "20", "100", "1", "4", false},
                           {"10", "56", "2500", "32", "30", false}};
    for (const Saved& saved : cases) {
        SCOPED_TRACE(saved.seconds);
        const QString data = folder.filePath("data");
        QDir(data).removeRecursively();
        {
            QDir().mkpath(data);
            QFile list(data + "/last-session.nsd");
            ASSERT_TRUE(list.open(QIODevice::WriteOnly));
            list.write("[gateway]\r\n=\r\n");
            QSettings state(data + "/last-session.conf", QSettings::IniFormat);
            state.setValue("Automatic/Command", "CheckAll");
            state.setValue("Options/Pings", saved.pings);
            state.setValue("Options/Size", saved.size);
            state.setValue("Options/TimeOut", saved.timeOut);
            state.setValue("Options/TTL", saved.ttl);
            state.setValue("Options/Seconds", saved.seconds);
            state.setValue("Options/Resolve", saved.resolve);
        }
        delete w;
        binding.emplace();
        w = new Tfm_ns;
        w->SetLastSessionFolder(data);
        w->StartInTray();
        LastSession(data).Restore(*w);
        ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
        EXPECT_EQ(w->AutoKind(), rkCheckAll);
        EXPECT_TRUE(w->Tick->isActive());
        EXPECT_EQ(w->Tick->interval(), QString(saved.seconds).toInt() * 1000);
        const auto applied = [&] {
            EXPECT_EQ(w->Runs()->Number(), QString(saved.pings).toInt());
            EXPECT_EQ(w->Ping->PacketSize(), QString(saved.size).toInt());
            EXPECT_EQ(w->Ping->TimeOut(), QString(saved.timeOut).toInt());
            EXPECT_EQ(w->Trace->TimeToLive(), QString(saved.ttl).toInt());
            EXPECT_EQ(w->Ping->Resolve(), saved.resolve);
            EXPECT_EQ(w->Tick->interval(), QString(saved.seconds).toInt() * 1000);
        };
        applied();

        // Out of the area: the window shows and keeps what was restored.
        area.Mouse(platform::WM_LBUTTONUP);
        ASSERT_TRUE(w->isVisible());
        applied();
        EXPECT_EQ(w->ed_secs->text(), saved.seconds);
        EXPECT_EQ(w->ck_Resolve->Checked(), saved.resolve);
        QFile::remove(folder.filePath("config/autostart/netsonde.desktop"));
        ASSERT_TRUE(w->SetStartAtLogin(true));
        const QSettings kept(data + "/last-session.conf", QSettings::IniFormat);
        EXPECT_EQ(kept.value("Options/Seconds").toString(), saved.seconds);
        EXPECT_EQ(kept.value("Options/Pings").toString(), saved.pings);
        EXPECT_EQ(kept.value("Options/Resolve").toBool(), saved.resolve);
    }
}

// The last session is written on a worker, never on the window thread, one
// snapshot after the other, and is on disk whole once the window has ended.
TEST_F(DesktopTest, LastSessionIsWrittenOffTheWindowThreadAndKeptAtTheEnd) {
    QString error;
    ASSERT_TRUE(AutostartEntry::Write("/usr/bin/netsonde", error)) << error.toStdString();
    std::mutex lock;
    std::vector<std::thread::id> writers;
    LastSession::SetWriteObserverForTests([&] {
        const std::lock_guard<std::mutex> hold(lock);
        writers.push_back(std::this_thread::get_id());
    });
    const auto observed = qScopeGuard([] { LastSession::SetWriteObserverForTests({}); });
    for (const char* entry : {"gateway", "far", "10.1.2.3"}) {
        w->lb_add->AddItem(entry);
        w->SaveLastSession();
    }
    delete w;
    Open();
    ASSERT_EQ(writers.size(), 3U);
    for (const std::thread::id& writer : writers)
        EXPECT_NE(writer, std::this_thread::get_id());
    LastSession(folder.filePath("data")).Restore(*w);
    EXPECT_EQ(w->lb_add->Count(), 3) << "the last snapshot is the one kept";
}

TEST_F(DesktopTest, LastSessionWithTheModeStoppedStartsNothingAndMissingFilesChangeNothing) {
    SetList({"gateway"});
    const LastSession last(folder.filePath("data"));
    QString error;
    ASSERT_TRUE(last.Save(*w, error));
    delete w;
    Open();
    last.Restore(*w);
    EXPECT_EQ(w->lb_add->Count(), 1);
    EXPECT_EQ(w->AutoKind(), rkNone);
    EXPECT_FALSE(w->Tick->isActive());

    LastSession(folder.filePath("nothing")).Restore(*w);
    EXPECT_EQ(w->lb_add->Count(), 1);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(DesktopTest, StartAtLoginWritesAValidEntryWithTheSessionAndRemovesIt) {
    const QString entry = folder.filePath("config/autostart/netsonde.desktop");
    EXPECT_EQ(AutostartEntry::Path(), entry);
    SetList({"gateway"});
    ASSERT_TRUE(w->SetStartAtLogin(true));
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_TRUE(QFile::exists(folder.filePath("data/last-session.nsd")));
    const QString text = QString::fromUtf8(ContentOf(entry));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=env NETSONDE_AUTOSTART=1 ") +
                              QCoreApplication::applicationFilePath() + "\n"))
        << text.toStdString();
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validator.isEmpty()) {
        QProcess check;
        check.start(validator, {entry});
        ASSERT_TRUE(check.waitForFinished());
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
    }
    ASSERT_TRUE(w->SetStartAtLogin(false));
    EXPECT_FALSE(QFile::exists(entry));
    // Off twice is still off, without a word.
    EXPECT_TRUE(w->SetStartAtLogin(false));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(DesktopTest, StartAtLoginThatCannotBeWrittenSaysWhyAndLeavesNoEntry) {
    // The autostart folder's place is taken by a file.
    QDir().mkpath(folder.filePath("config"));
    PutContent(folder.filePath("config/autostart"), "x");
    EXPECT_FALSE(w->SetStartAtLogin(true));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error: ")) << boxes.shown[0].toStdString();
    EXPECT_FALSE(AutostartEntry::Exists());

    // A session that cannot be kept takes the entry back with it.
    QFile::remove(folder.filePath("config/autostart"));
    PutContent(folder.filePath("data"), "x");
    EXPECT_FALSE(w->SetStartAtLogin(true));
    EXPECT_EQ(boxes.shown.size(), 2);
    EXPECT_FALSE(AutostartEntry::Exists());
}

TEST(AutostartEntryText, QuotesProgramPathsAsTheExecKeyAsks) {
    EXPECT_TRUE(AutostartEntry::Text("/usr/bin/netsonde")
                    .contains("\nExec=env NETSONDE_AUTOSTART=1 /usr/bin/netsonde\n"));
    // Inside quotes ", `, $ and \ are escaped, and the string's own escape
    // doubles the backslashes; % would be a field code.
    EXPECT_TRUE(
        AutostartEntry::Text(R"(/opt/my "net" $x\ 100%/netsonde)")
            .contains(
                R"(Exec=env NETSONDE_AUTOSTART=1 "/opt/my \\"net\\" \\$x\\\\ 100%%/netsonde")"))
        << AutostartEntry::Text(R"(/opt/my "net" $x\ 100%/netsonde)").toStdString();
}

// Reads the entry as a desktop session does: its keys, line by line, and
// the program path of Exec, the string's escapes undone first, then the
// quoting of the argument and its field codes.
struct ReadEntry {
    QStringList keys;
    QString program;
};
ReadEntry ReadAutostart(const QString& text) {
    ReadEntry read;
    QString exec;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('[')))
            continue;
        read.keys << line.section(QLatin1Char('='), 0, 0);
        if (line.startsWith(QLatin1String("Exec=")))
            exec = line.mid(5);
    }
    QString value;
    for (int i = 0; i < exec.size(); ++i) {
        if (exec[i] != QLatin1Char('\\') || i + 1 == exec.size()) {
            value += exec[i];
            continue;
        }
        const QChar next = exec[++i];
        value += next == QLatin1Char('n')   ? QChar('\n')
                 : next == QLatin1Char('t') ? QChar('\t')
                 : next == QLatin1Char('r') ? QChar('\r')
                 : next == QLatin1Char('s') ? QChar(' ')
                                            : next;
    }
    const QString arg = value.section(QLatin1Char(' '), 2).replace(QLatin1String("%%"), "%");
    if (!arg.startsWith(QLatin1Char('"'))) {
        read.program = arg;
        return read;
    }
    for (int i = 1; i + 1 < arg.size(); ++i) {
        if (arg[i] == QLatin1Char('\\'))
            ++i;
        read.program += arg[i];
    }
    return read;
}

// Whatever the program's path holds, the entry has its own keys alone and
// gives the path back unchanged: a line break in it starts no key.
TEST(AutostartEntryText, AnyProgramPathComesBackWholeAndAddsNoKeys) {
    const QStringList keys = {"Type", "Name",     "Comment",   "Exec",
                              "Icon", "Terminal", "NoDisplay", "X-GNOME-Autostart-enabled"};
    const char* const paths[] = {
        "/usr/bin/netsonde",
        R"(/opt/my "net" $x\ 100%/netsonde)",
        "/opt/a\nTerminal=true\nExec=/bin/evil\n/netsonde",
        "/opt/a\r\nHidden=true\r/netsonde",
        "/opt/tab\there/back\\n/netsonde",
    };
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        const QString text = AutostartEntry::Text(QString::fromUtf8(path));
        const ReadEntry read = ReadAutostart(text);
        EXPECT_EQ(read.keys, keys) << text.toStdString();
        EXPECT_EQ(read.program, QString::fromUtf8(path)) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1Char('\r')));
    }
}

TEST(AlertsDialogLogin, TheBoxGoesBackWhenTheChangeFailsAndIsHiddenWithoutAHandler) {
    Tfm_alerts dialog;
    dialog.show();
    EXPECT_FALSE(dialog.ck_login->isVisible());
    dialog.hide();
    bool answer = false;
    QList<bool> asked;
    dialog.OnStartAtLogin = [&](bool on) {
        asked << on;
        return answer;
    };
    dialog.SetStartAtLogin(false);
    dialog.show();
    EXPECT_TRUE(dialog.ck_login->isVisible());
    EXPECT_TRUE(asked.isEmpty());
    dialog.ck_login->click();
    EXPECT_EQ(asked, QList<bool>{true});
    EXPECT_FALSE(dialog.ck_login->Checked());
    answer = true;
    dialog.ck_login->click();
    EXPECT_TRUE(dialog.ck_login->Checked());
    EXPECT_EQ(asked, (QList<bool>{true, true}));
}

} // namespace
} // namespace netsonde::test
