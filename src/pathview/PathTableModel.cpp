#include "pathview/PathTableModel.h"

#include <QDateTime>
#include <algorithm>
#include <iterator>

namespace pathview {

namespace {

const QString NoAnswer = QStringLiteral("no answer");
constexpr std::size_t StripPercentile = 95;
constexpr std::size_t Hundred = 100;

QString Ms(double ms) {
    return QString::number(ms, 'f', 1);
}

// A number as it is said: one decimal, without a trailing ".0".
QString Spoken(double value) {
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

QString HostText(const paths::ResponderFigures& r) {
    const QString address = r.address.ToString();
    return r.name.isEmpty() ? address : r.name + QStringLiteral(" (") + address + QLatin1Char(')');
}

// The address first, as it is said: the part that tells hops apart.
QString SpokenHost(const paths::ResponderFigures& r) {
    const QString address = r.address.ToString();
    return r.name.isEmpty() ? address : address + QLatin1Char(' ') + r.name;
}

} // namespace

const QString PathTableModel::NoValue = QStringLiteral("\u2013");

PathTableModel::PathTableModel(QObject* parent) : QAbstractTableModel(parent) {}

std::vector<PathTableModel::Row> PathTableModel::RowsOf(const paths::PathFigures& figures,
                                                        Origin origin) {
    // The strips' scale: the 95th percentile (nearest rank) of every round
    // trip they show, so that one slow answer (the first round's, as a rule)
    // stands out without washing out the rest; slower ones are all full.
    std::vector<double> all;
    for (const paths::HopFigures& hop : figures.hops)
        for (const paths::ResponderFigures& r : hop.responders)
            all.insert(all.end(), r.recentMs.begin(), r.recentMs.end());
    double slowest = 0;
    if (!all.empty()) {
        const std::size_t rank = (StripPercentile * all.size() + Hundred - 1) / Hundred;
        const auto at =
            all.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(rank, 1) - 1);
        std::nth_element(all.begin(), at, all.end());
        slowest = *at;
    }

    std::vector<Row> rows;
    for (const paths::HopFigures& hop : figures.hops) {
        const QString number = QString::number(hop.ttl);
        const QString hopWords = QStringLiteral("hop ") + number;
        if (hop.silent || hop.responders.empty()) {
            Row row;
            row.hopStart = true;
            row.texts[Hop] = number;
            row.texts[Host] = NoAnswer;
            row.texts[Sent] = QString::number(hop.sent);
            row.spoken = hopWords + QStringLiteral(", ") + NoAnswer;
            row.stripSpoken = QStringLiteral("no round trips");
            rows.push_back(std::move(row));
            continue;
        }
        for (std::size_t i = 0; i < hop.responders.size(); ++i) {
            const paths::ResponderFigures& r = hop.responders[i];
            Row row;
            row.hopStart = i == 0;
            row.texts[Host] = HostText(r);
            if (row.hopStart) {
                row.texts[Hop] = number;
                row.texts[Loss] = QString::number(hop.recentLossPercent, 'f', 1);
                row.texts[ForwardedLoss] = QString::number(hop.forwardedLossPercent, 'f', 1);
                row.texts[Sent] = QString::number(hop.sent);
                row.spoken = QStringLiteral("%1, %2, loss %3 %, forwarded loss %4 %")
                                 .arg(hopWords, SpokenHost(r), Spoken(hop.recentLossPercent),
                                      Spoken(hop.forwardedLossPercent));
            } else {
                row.spoken = QStringLiteral("%1, also %2").arg(hopWords, SpokenHost(r));
            }
            // Stored minutes keep sums only: their extremes are unknown, not 0.
            const bool stored = origin == Origin::Stored;
            row.texts[Last] = stored ? NoValue : Ms(r.rtt.lastMs);
            row.texts[Avg] = Ms(r.rtt.meanMs);
            row.texts[Best] = stored ? NoValue : Ms(r.rtt.bestMs);
            row.texts[Worst] = stored ? NoValue : Ms(r.rtt.worstMs);
            row.texts[StDev] = Ms(r.rtt.stdevMs);
            row.texts[Jitter] = Ms(r.rtt.jitterMs);
            row.spoken += QStringLiteral(", average %1 ms").arg(Spoken(r.rtt.meanMs));
            row.strip.reserve(static_cast<qsizetype>(r.recentMs.size()));
            for (double ms : r.recentMs)
                row.strip.append(slowest > 0 ? std::min(1.0, ms / slowest) : 0);
            if (stored) {
                row.stripSpoken = QStringLiteral("no recent round trips in the history");
            } else if (r.recentMs.empty()) {
                row.stripSpoken = QStringLiteral("no round trips");
            } else {
                const auto [low, high] = std::minmax_element(r.recentMs.begin(), r.recentMs.end());
                row.stripSpoken = QStringLiteral("last %1 round trips, %2 to %3 ms")
                                      .arg(r.recentMs.size())
                                      .arg(Spoken(*low), Spoken(*high));
            }
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

void PathTableModel::SetFigures(const paths::PathFigures& figures, Origin origin) {
    FFigures = figures;
    FOrigin = origin;
    std::vector<Row> rows = RowsOf(figures, origin);
    const int now = static_cast<int>(rows.size());
    const int before = static_cast<int>(FRows.size());
    const int kept = std::min(now, before);
    if (now < before) {
        beginRemoveRows({}, now, before - 1);
        FRows.resize(static_cast<std::size_t>(now));
        endRemoveRows();
    }
    // Only the cells that changed are announced, so that a view paints
    // those alone: a round changes the figures, rarely the hops and hosts.
    for (int r = 0; r < kept; ++r) {
        Row& was = FRows[static_cast<std::size_t>(r)];
        Row& is = rows[static_cast<std::size_t>(r)];
        int first = ColumnCount;
        int last = -1;
        for (int c = 0; c < ColumnCount; ++c) {
            const auto at = static_cast<std::size_t>(c);
            const bool same = c == Recent
                                  ? was.strip == is.strip && was.stripSpoken == is.stripSpoken
                                  : was.texts[at] == is.texts[at];
            if (!same) {
                first = std::min(first, c);
                last = c;
            }
        }
        // The row's spoken words belong to its first cell.
        if (was.spoken != is.spoken || was.hopStart != is.hopStart) {
            first = Hop;
            last = std::max(last, static_cast<int>(Hop));
        }
        was = std::move(is);
        if (last >= 0)
            emit dataChanged(index(r, first), index(r, last));
    }
    if (now > before) {
        beginInsertRows({}, before, now - 1);
        std::move(rows.begin() + kept, rows.end(), std::back_inserter(FRows));
        endInsertRows();
    }
}

QString PathTableModel::RowText(int row) const {
    return row >= 0 && row < rowCount() ? FRows[static_cast<std::size_t>(row)].spoken : QString();
}

int PathTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int PathTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PathTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const Row& row = FRows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return column < Recent ? QVariant(row.texts[static_cast<std::size_t>(column)]) : QVariant();
    case Qt::AccessibleTextRole:
        // The first cell says the whole row, the strip what it shows; the
        // other cells are read as they are written.
        if (column == Hop)
            return row.spoken;
        if (column == Recent)
            return row.stripSpoken;
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column == Host ? Qt::AlignLeft | Qt::AlignVCenter
                                                  : Qt::AlignRight | Qt::AlignVCenter);
    case StripRole:
        return column == Recent ? QVariant::fromValue(row.strip) : QVariant();
    case HopStartRole:
        return row.hopStart;
    default:
        return {};
    }
}

QVariant PathTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    static const char* const Titles[ColumnCount] = {
        "Hop",   "Host",  "Loss %", "Forwarded loss %",    "Sent", "Last", "Avg", "Best",
        "Worst", "StDev", "Jitter", "Last 100 round trips"};
    static const char* const Spoken[ColumnCount] = {"Hop",          "Host",
                                                    "Loss percent", "Forwarded loss percent",
                                                    "Sent",         "Last",
                                                    "Average",      "Best",
                                                    "Worst",        "Standard deviation",
                                                    "Jitter",       "Last 100 round trips"};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(Titles[section]);
    if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return QString::fromLatin1(Spoken[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(section == Host || section == Recent
                                       ? Qt::AlignLeft | Qt::AlignVCenter
                                       : Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QString RouteChangeText(const paths::RouteChange& change) {
    const QString stamp = QDateTime::fromMSecsSinceEpoch(change.timeMs)
                              .toLocalTime()
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString before = paths::RouteText(change.before);
    const QString after = paths::RouteText(change.after);
    switch (change.kind) {
    case paths::RouteChange::Kind::FlappingBegan:
        return QStringLiteral("%1  flapping between %2 and %3").arg(stamp, before, after);
    case paths::RouteChange::Kind::FlappingEnded:
        return QStringLiteral("%1  flapping ended, on %2").arg(stamp, after);
    case paths::RouteChange::Kind::Changed:
        break;
    }
    return QStringLiteral("%1  route changed: %2 \u2192 %3").arg(stamp, before, after);
}

} // namespace pathview
