// The Path window offscreen over a scripted echo sender and name service:
// the table follows the rounds, the entry's name is looked up off the window
// thread (or says why not), Pause, Reset, Copy and the exports, a close
// that ends the rounds at once, the table as assistive technology reads it,
// and heat strips that stay sharp at scale 2.
#include "pathview/Tfm_path.h"

#include "paths/PathReport.h"
#include "pathview/HeatStrip.h"
#include "pathview/PathTableModel.h"
#include "platform/IcmpTypes.h"
#include "support/EventWait.h"
#include "support/FakeEchoSender.h"
#include "support/FakeFileDialogs.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeNameService.h"
#include "support/ScratchMount.h"
#include "support/TestFiles.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <thread>

namespace netsonde::test {
namespace {

constexpr const char* Far = "10.61.4.2";

std::array<std::uint8_t, 16> bytesOf(const char* text) {
    std::array<std::uint8_t, 16> bytes{};
    ::inet_pton(AF_INET, text, bytes.data());
    return bytes;
}

class PathWindowTest : public testing::Test {
protected:
    void SetUp() override {
        previous = pathview::Tfm_path::SetEchoSenderForTests(fake);
        names.AddReverse("10.61.1.1", "r1.nsd.test");
        names.AddReverse("10.61.2.2", "r2.nsd.test");
        names.AddReverse(Far, "far.nsd.test");
        names.AddHost("far.nsd.test", {Far});
    }
    void TearDown() override {
        delete window.data();
        pathview::Tfm_path::SetEchoSenderForTests(previous);
    }
    pathview::Tfm_path* Open(const QString& entry) {
        window = new pathview::Tfm_path(entry);
        window->show();
        return window;
    }
    // Ends every request in flight: routers 1 and 2, silence at TTL 3, the
    // target from TTL 4 on.
    void AnswerRound() {
        fake->EndAll([](int ttl, platform::AsyncEcho::Outcome& o) {
            o.status = IcmpStatus::TtlExpiredTransit;
            if (ttl == 1)
                o.from = bytesOf("10.61.1.1");
            else if (ttl == 2)
                o.from = bytesOf("10.61.2.2");
            else if (ttl == 3)
                o.status = IcmpStatus::ReqTimedOut;
            else {
                o.status = IcmpStatus::Success;
                o.from = bytesOf(Far);
            }
            return 1.0 * ttl;
        });
    }
    // Rounds until the table shows the names.
    void RunUntilNamed() {
        ASSERT_TRUE(WaitUntil([&] {
            if (!fake->waiting.empty())
                AnswerRound();
            else
                window->Watch()->RunRound();
            const auto* model = window->Model();
            return model->rowCount() == 4 &&
                   model->data(model->index(3, 1), Qt::DisplayRole).toString().contains("far");
        }));
    }
    QString Cell(int row, int column) const {
        const auto* model = window->Model();
        return model->data(model->index(row, column), Qt::DisplayRole).toString();
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    std::shared_ptr<paths::EchoSender> previous;
    FakeNameService names;
    FakeMessageBoxes boxes;
    QPointer<pathview::Tfm_path> window;
};

// Rounds fill the table: a row per hop, names as they are found, the silent
// hop without an address; Copy puts the plain-text report on the clipboard.
TEST_F(PathWindowTest, TableFollowsTheRoundsAndCopyTakesTheReport) {
    Open(Far);
    ASSERT_NE(window->Watch(), nullptr) << "an address needs no lookup";
    EXPECT_EQ(fake->sent, paths::PathWatch::DefaultMaxTtl) << "the first round starts at once";
    RunUntilNamed();
    EXPECT_EQ(Cell(0, pathview::PathTableModel::Host), "r1.nsd.test (10.61.1.1)");
    EXPECT_EQ(Cell(1, pathview::PathTableModel::Host), "r2.nsd.test (10.61.2.2)");
    EXPECT_EQ(Cell(2, pathview::PathTableModel::Host), "no answer");
    EXPECT_EQ(Cell(3, pathview::PathTableModel::Host), "far.nsd.test (10.61.4.2)");
    EXPECT_EQ(Cell(3, pathview::PathTableModel::Best), "4.0");
    EXPECT_TRUE(window->StatusText().startsWith("Path to 10.61.4.2: 4 hops, "))
        << window->StatusText().toStdString();

    window->bn_copy->click();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied, paths::ReportText(window->Watch()->Figures()));
    EXPECT_TRUE(
        copied.contains(QRegularExpression("\n +4 +far\\.nsd\\.test \\(10\\.61\\.4\\.2\\) ")))
        << copied.toStdString();
}

// A name is looked up on a worker, never on the window thread; one that
// does not resolve is said in the window, whose commands stay off.
TEST_F(PathWindowTest, NamesAreLookedUpOffTheWindowThreadOrSayWhyNot) {
    names.SetNameError("nowhere.nsd.test", 11001);
    names.SetNameError("<b>bold</b><a href=\"x\">.nsd.test", 11001);
    struct Case {
        const char* entry;
        bool starts;
        const char* status;
    };
    const Case cases[] = {
        {"far.nsd.test", true, "Path to far.nsd.test (10.61.4.2): "},
        {"nowhere.nsd.test", false, "nowhere.nsd.test cannot be watched: host not found."},
        {"<b>bold</b><a href=\"x\">.nsd.test", false, "<b>bold</b><a href=\"x\">.nsd.test cannot"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        delete window.data();
        Open(QString::fromLatin1(c.entry));
        EXPECT_EQ(window->Watch(), nullptr);
        EXPECT_TRUE(window->StatusText().startsWith("Looking up"));
        QSignalSpy started(window.data(), &pathview::Tfm_path::Started);
        QSignalSpy failed(window.data(), &pathview::Tfm_path::Failed);
        ASSERT_TRUE(WaitUntil([&] { return started.count() + failed.count() > 0; }));
        EXPECT_EQ(window->Watch() != nullptr, c.starts);
        EXPECT_EQ(window->bn_copy->isEnabled(), c.starts);
        EXPECT_EQ(window->bn_pause->isEnabled(), c.starts);
        EXPECT_TRUE(window->StatusText().startsWith(QString::fromLatin1(c.status)))
            << window->StatusText().toStdString();
        EXPECT_EQ(window->lb_status->text(), window->StatusText());
        EXPECT_EQ(window->lb_status->textFormat(), Qt::PlainText) << "an entry drawn as markup";
    }
    bool lookedUp = false;
    for (const FakeLookup& l : names.Lookups())
        if (l.what == "name:far.nsd.test") {
            lookedUp = true;
            EXPECT_NE(l.thread, std::this_thread::get_id());
        }
    EXPECT_TRUE(lookedUp);
}

// A window closed while its lookup is still held never starts a watch.
TEST_F(PathWindowTest, ClosedBeforeItsLookupEndsStartsNothing) {
    names.HoldLookups(true);
    Open("far.nsd.test");
    ASSERT_TRUE(names.WaitForHeld(1));
    window->close();
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return window.isNull(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(fake->sent, 0);
}

// Pause stops the rounds and Resume starts them again; Reset forgets the
// figures and the route changes.
TEST_F(PathWindowTest, PauseResumeAndReset) {
    Open(Far);
    AnswerRound();
    ASSERT_TRUE(window->Watch()->Running());
    window->bn_pause->click();
    EXPECT_FALSE(window->Watch()->Running());
    EXPECT_EQ(window->bn_pause->text(), "&Resume");
    EXPECT_EQ(window->bn_pause->accessibleName(), "Resume");
    EXPECT_TRUE(window->StatusText().endsWith(", paused"));
    const int sent = fake->sent;
    window->bn_pause->click();
    EXPECT_TRUE(window->Watch()->Running());
    EXPECT_EQ(window->bn_pause->text(), "&Pause");
    EXPECT_GT(fake->sent, sent) << "a round at once";
    AnswerRound();

    window->lb_changes->addItem("an earlier change");
    ASSERT_GT(window->Model()->rowCount(), 0);
    window->bn_reset->click();
    EXPECT_EQ(window->Model()->rowCount(), 0);
    EXPECT_EQ(window->lb_changes->count(), 0);
    EXPECT_EQ(window->Model()->Figures().rounds, 0U);
}

// Closing ends the rounds there and then: the watch is gone before the
// window is deleted, no timer sends again, and answers still in flight
// reach nothing.
TEST_F(PathWindowTest, ClosingEndsTheRoundsAtOnce) {
    Open(Far);
    window->Watch()->SetIntervalMs(paths::PathWatch::MinIntervalMs);
    QSignalSpy updated(window.data(), &pathview::Tfm_path::Updated);
    ASSERT_FALSE(fake->waiting.empty());
    window->close();
    EXPECT_EQ(window->Watch(), nullptr);
    const int sent = fake->sent;
    AnswerRound();
    EXPECT_EQ(updated.count(), 0);
    ASSERT_TRUE(WaitUntil([&] { return window.isNull(); }));
    // Longer than an interval: nothing sends any more.
    QTest::qWait(2 * paths::PathWatch::MinIntervalMs);
    EXPECT_EQ(fake->sent, sent);
}

// The exports write the reports through the file dialogs (a name typed
// without extension gets one), and a failed export keeps the earlier file.
TEST_F(PathWindowTest, ExportsWriteTheReportsAndAFailureKeepsTheEarlierFile) {
    FakeFileDialogs dialogs;
    QTemporaryDir dir;
    Open(Far);
    RunUntilNamed();
    window->Watch()->Pause();
    const paths::PathFigures figures = window->Watch()->Figures();

    dialogs.PickNext(dir.filePath("far"));
    window->bn_csv->click();
    EXPECT_EQ(ContentOf(dir.filePath("far.csv")), paths::ReportCsv(figures));
    dialogs.PickNext(dir.filePath("far.json"));
    window->bn_json->click();
    const QJsonObject json = QJsonDocument::fromJson(ContentOf(dir.filePath("far.json"))).object();
    EXPECT_EQ(json.value("target").toString(), Far);
    EXPECT_EQ(json.value("hops").toArray().size(), 4);
    ASSERT_EQ(dialogs.requests.size(), 2U);
    EXPECT_EQ(dialogs.requests[0].FileName, "10.61.4.2-path.csv");
    EXPECT_EQ(dialogs.requests[1].DefaultExt, "json");
    dialogs.PickNext(std::nullopt);
    window->bn_csv->click();
    EXPECT_TRUE(boxes.shown.isEmpty());

    ASSERT_TRUE(QDir().mkpath(dir.filePath("full")));
    ScratchMount full(dir.filePath("full"), 64);
    if (!full.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const QString earlier = dir.filePath("full/far.csv");
    PutContent(earlier, "earlier,file\r\n");
    ASSERT_TRUE(full.FillUp());
    EXPECT_FALSE(window->ExportCsvTo(earlier));
    EXPECT_EQ(ContentOf(earlier), "earlier,file\r\n");
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error: ")) << boxes.shown[0].toStdString();
    EXPECT_TRUE(boxes.shown[0].contains(earlier)) << boxes.shown[0].toStdString();
}

// Assistive technology finds an accessible table whose first cell of each
// row says the row's figures, and named buttons.
TEST_F(PathWindowTest, TheTableSpeaksEachRow) {
    Open(Far);
    RunUntilNamed();
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(window->tv_hops);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->role(), QAccessible::Table);
    EXPECT_EQ(table->text(QAccessible::Name), "Hops");
    QAccessibleTableInterface* cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    ASSERT_EQ(cells->rowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        QAccessibleInterface* first = cells->cellAt(row, 0);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->text(QAccessible::Name), window->Model()->RowText(row));
    }
    EXPECT_TRUE(cells->cellAt(3, 0)
                    ->text(QAccessible::Name)
                    .startsWith("hop 4, 10.61.4.2 far.nsd.test, loss 0 %, forwarded loss 0 %, "
                                "average 4 ms"));
    for (QPushButton* b :
         {window->bn_pause, window->bn_reset, window->bn_copy, window->bn_csv, window->bn_json}) {
        EXPECT_FALSE(b->objectName().isEmpty());
        EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
    }
}

// At scale 2 every device pixel of the strip is a bar's colour or the
// trough's: no blended edges, which a scaled bitmap would leave.
TEST_F(PathWindowTest, HeatStripIsSharpAtScaleTwo) {
    pathview::PathTableModel model;
    paths::PathFigures f;
    paths::HopFigures hop;
    hop.ttl = 1;
    hop.silent = false;
    paths::ResponderFigures r;
    r.recentMs = {1, 8, 2, 8, 4, 1, 1, 8};
    hop.responders = {r};
    f.hops = {hop};
    model.SetFigures(f);

    QImage image(QSize(220, 20) * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 220, 20);
    option.palette = QApplication::palette();
    pathview::HeatStrip strip;
    {
        QPainter painter(&image);
        strip.paint(&painter, option, model.index(0, pathview::PathTableModel::Recent));
    }
    QSet<QRgb> allowed;
    for (double level : {0.125, 0.25, 0.5, 1.0})
        allowed.insert(pathview::HeatStrip::LevelColor(option.palette, level).rgb());
    QSet<QRgb> bars;
    const int y = image.height() / 2;
    // The newest bars at the right: 8 of them, each BarWidth wide, so four
    // device pixels at scale 2, each bar wholly one colour.
    const int right = (220 - 2) * 2;
    for (int x = right - 8 * pathview::HeatStrip::BarWidth * 2; x < right; ++x)
        bars.insert(image.pixel(x, y));
    EXPECT_EQ(bars, allowed);
    EXPECT_EQ(image.pixel(right - 1, y), image.pixel(right - 4, y)) << "one bar, four pixels";
    EXPECT_NE(image.pixel(right - 4, y), image.pixel(right - 5, y)) << "the next bar";
}

} // namespace
} // namespace netsonde::test
