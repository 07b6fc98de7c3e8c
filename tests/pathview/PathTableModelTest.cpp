// The Path window's table without a view: the rows of scripted figures
// (each responder of a balanced hop a row of its own, a silent hop without
// an address), their spoken words, the heat strips' levels, a model that
// changes shape without losing the rows a view holds, and the route
// changes' texts.
#include "pathview/PathTableModel.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QStringList>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <vector>

using pathview::PathTableModel;

namespace {

paths::Address address(const char* text) {
    paths::Address a;
    a.family = 4;
    ::inet_pton(AF_INET, text, a.bytes.data());
    return a;
}

paths::ResponderFigures responder(const char* at, const QString& name, std::vector<double> recent) {
    paths::ResponderFigures r;
    r.address = address(at);
    r.name = name;
    r.answered = recent.size();
    r.rtt = {recent.size(), recent.back(), 0.5, 9.76, 1.24, 0.06, 0.125, 1.2, 2};
    r.recentMs = std::move(recent);
    return r;
}

paths::HopFigures hop(int ttl, double loss, double forwarded,
                      std::vector<paths::ResponderFigures> responders) {
    paths::HopFigures h;
    h.ttl = ttl;
    h.sent = 20;
    h.recentLossPercent = loss;
    h.forwardedLossPercent = forwarded;
    h.silent = responders.empty();
    h.responders = std::move(responders);
    return h;
}

// Hop 1 named, hop 2 balanced over two routers, hop 3 silent, hop 4 the
// target without a name.
paths::PathFigures scripted() {
    paths::PathFigures f;
    f.target = QStringLiteral("10.61.4.2");
    f.distance = 4;
    f.hops = {
        hop(1, 0, 0, {responder("10.61.1.1", QStringLiteral("r1.nsd.test"), {1, 2})}),
        hop(2, 12.5, 2.5,
            {responder("10.61.2.2", QStringLiteral("r2.nsd.test"), {2, 4}),
             responder("10.61.2.3", QString(), {8})}),
        hop(3, 0, 0, {}),
        hop(4, 0, 0, {responder("10.61.4.2", QString(), {1.5})}),
    };
    return f;
}

QStringList rowTexts(const PathTableModel& model, int row) {
    QStringList texts;
    for (int c = 0; c < PathTableModel::Recent; ++c)
        texts << model.data(model.index(row, c), Qt::DisplayRole).toString();
    return texts;
}

} // namespace

// Every cell of every row: the hop's columns on its first row only, each
// responder's round trips on its own row, "no answer" and no figures for a
// silent hop; numbers right-aligned, hosts left.
TEST(PathTableModel, RowsShowEachResponderAndSilentHops) {
    PathTableModel model;
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    model.SetFigures(scripted());
    const std::vector<QStringList> expected{
        {"1", "r1.nsd.test (10.61.1.1)", "0.0", "0.0", "20", "2.0", "1.2", "0.5", "9.8", "0.1",
         "0.1"},
        {"2", "r2.nsd.test (10.61.2.2)", "12.5", "2.5", "20", "4.0", "1.2", "0.5", "9.8", "0.1",
         "0.1"},
        {"", "10.61.2.3", "", "", "", "8.0", "1.2", "0.5", "9.8", "0.1", "0.1"},
        {"3", "no answer", "", "", "20", "", "", "", "", "", ""},
        {"4", "10.61.4.2", "0.0", "0.0", "20", "1.5", "1.2", "0.5", "9.8", "0.1", "0.1"},
    };
    ASSERT_EQ(model.rowCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(model.columnCount(), 12);
    for (int row = 0; row < model.rowCount(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rowTexts(model, row), expected[static_cast<std::size_t>(row)]);
        EXPECT_EQ(model.data(model.index(row, 0), PathTableModel::HopStartRole).toBool(), row != 2);
    }
    const auto alignment = [&](int column) {
        return model.data(model.index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(alignment(PathTableModel::Host), Qt::AlignLeft);
    EXPECT_EQ(alignment(PathTableModel::Avg), Qt::AlignRight);
    EXPECT_EQ(model.headerData(PathTableModel::ForwardedLoss, Qt::Horizontal, Qt::DisplayRole),
              QStringLiteral("Forwarded loss %"));
}

// What a screen reader says: the whole row on its first cell, what the
// strip shows on the strip's; the other cells are read as written.
TEST(PathTableModel, RowsSayTheirFigures) {
    PathTableModel model;
    model.SetFigures(scripted());
    const std::vector<std::pair<QString, QString>> expected{
        {"hop 1, 10.61.1.1 r1.nsd.test, loss 0 %, forwarded loss 0 %, average 1.2 ms",
         "last 2 round trips, 1 to 2 ms"},
        {"hop 2, 10.61.2.2 r2.nsd.test, loss 12.5 %, forwarded loss 2.5 %, average 1.2 ms",
         "last 2 round trips, 2 to 4 ms"},
        {"hop 2, also 10.61.2.3, average 1.2 ms", "last 1 round trips, 8 to 8 ms"},
        {"hop 3, no answer", "no round trips"},
        {"hop 4, 10.61.4.2, loss 0 %, forwarded loss 0 %, average 1.2 ms",
         "last 1 round trips, 1.5 to 1.5 ms"},
    };
    ASSERT_EQ(model.rowCount(), static_cast<int>(expected.size()));
    for (int row = 0; row < model.rowCount(); ++row) {
        SCOPED_TRACE(row);
        const auto& [words, strip] = expected[static_cast<std::size_t>(row)];
        EXPECT_EQ(model.RowText(row), words);
        EXPECT_EQ(model.data(model.index(row, PathTableModel::Hop), Qt::AccessibleTextRole), words);
        EXPECT_EQ(model.data(model.index(row, PathTableModel::Recent), Qt::AccessibleTextRole),
                  strip);
        EXPECT_FALSE(
            model.data(model.index(row, PathTableModel::Avg), Qt::AccessibleTextRole).isValid());
    }
    EXPECT_EQ(model.RowText(5), QString());
}

// The strip's levels put every row on one scale, the 95th percentile of
// all round trips in the table, oldest first; a silent hop has none, and an
// answer slower than the scale is full without flattening the others.
TEST(PathTableModel, StripLevelsAreSharedAcrossTheTable) {
    PathTableModel model;
    const auto strip = [&](int row) {
        return model.data(model.index(row, PathTableModel::Recent), PathTableModel::StripRole)
            .value<QList<double>>();
    };
    // Six round trips: the 95th percentile is the slowest, 8 ms.
    model.SetFigures(scripted());
    EXPECT_EQ(strip(0), (QList<double>{0.125, 0.25}));
    EXPECT_EQ(strip(1), (QList<double>{0.25, 0.5}));
    EXPECT_EQ(strip(2), (QList<double>{1.0}));
    EXPECT_TRUE(strip(3).isEmpty());
    EXPECT_EQ(strip(4), (QList<double>{0.1875}));

    // 21 round trips: the 20th of them sorted, 2 ms, is the scale.
    paths::PathFigures outlier = scripted();
    std::vector<double> steady(19, 1.0);
    steady.push_back(100);
    outlier.hops = {hop(1, 0, 0, {responder("10.61.1.1", QString(), steady)}),
                    hop(2, 0, 0, {responder("10.61.2.2", QString(), {2})})};
    model.SetFigures(outlier);
    EXPECT_EQ(strip(0).size(), 20);
    EXPECT_EQ(strip(0).front(), 0.5);
    EXPECT_EQ(strip(0).back(), 1.0);
    EXPECT_EQ(strip(1), (QList<double>{1.0}));
    EXPECT_FALSE(
        model.data(model.index(0, PathTableModel::Avg), PathTableModel::StripRole).isValid());
    EXPECT_FALSE(model.data(model.index(0, PathTableModel::Recent), Qt::DisplayRole).isValid());
}

// A path that grows, keeps its shape and shrinks again: rows are inserted
// and removed at the end, the others changed in place, never a reset that
// would lose a view's selection; the tester checks every step.
TEST(PathTableModel, ChangesOfShapeKeepTheRowsBefore) {
    PathTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::vector<std::pair<int, int>> inserted;
    std::vector<std::pair<int, int>> removed;
    int resets = 0;
    int changes = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int a, int b) { inserted.emplace_back(a, b); });
    QObject::connect(&model, &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex&, int a, int b) { removed.emplace_back(a, b); });
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++changes; });

    paths::PathFigures two = scripted();
    two.hops.resize(1); // hop 1 only: one row
    model.SetFigures(two);
    model.SetFigures(scripted());
    model.SetFigures(scripted());
    model.SetFigures(two);
    model.SetFigures({});

    EXPECT_EQ(inserted, (std::vector<std::pair<int, int>>{{0, 0}, {1, 4}}));
    EXPECT_EQ(removed, (std::vector<std::pair<int, int>>{{1, 4}, {0, 0}}));
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(changes, 2) << "the row kept by the 2nd and 4th figures; the 3rd are the same";
    EXPECT_EQ(model.rowCount(), 0);

    // Only the cells that changed are announced: the standard deviation of
    // hop 1, and the average of hop 2's second router with the row's
    // spoken words on its first cell. Hops 3 and 4 stay as they were.
    model.SetFigures(scripted());
    std::vector<std::pair<QModelIndex, QModelIndex>> ranges;
    QObject::connect(
        &model, &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& a, const QModelIndex& b) { ranges.emplace_back(a, b); });
    paths::PathFigures changed = scripted();
    changed.hops[0].responders[0].rtt.stdevMs = 0.5;
    changed.hops[1].responders[1].rtt.meanMs = 3;
    model.SetFigures(changed);
    using Range = std::pair<QModelIndex, QModelIndex>;
    EXPECT_EQ(ranges,
              (std::vector<Range>{
                  {model.index(0, PathTableModel::StDev), model.index(0, PathTableModel::StDev)},
                  {model.index(2, PathTableModel::Hop), model.index(2, PathTableModel::Avg)}}));
}

// The route changes with their local times; flapping says so.
TEST(PathTableModel, RouteChangesReadWithTheirLocalTimes) {
    const qint64 at = QDateTime(QDate(2026, 3, 4), QTime(14, 3, 21)).toMSecsSinceEpoch();
    const paths::Route a{{address("10.61.1.1")}, {address("10.61.2.2")}};
    const paths::Route b{{address("10.61.1.1")}, {address("10.61.2.3")}, {}};
    using Kind = paths::RouteChange::Kind;
    const std::vector<std::pair<Kind, QString>> cases{
        {Kind::Changed,
         "2026-03-04 14:03:21  route changed: 10.61.1.1 10.61.2.2 \u2192 10.61.1.1 10.61.2.3 *"},
        {Kind::FlappingBegan,
         "2026-03-04 14:03:21  flapping between 10.61.1.1 10.61.2.2 and 10.61.1.1 10.61.2.3 *"},
        {Kind::FlappingEnded, "2026-03-04 14:03:21  flapping ended, on 10.61.1.1 10.61.2.3 *"},
    };
    for (const auto& [kind, text] : cases) {
        paths::RouteChange change;
        change.kind = kind;
        change.timeMs = at;
        change.before = a;
        change.after = b;
        EXPECT_EQ(pathview::RouteChangeText(change), text);
    }
}
