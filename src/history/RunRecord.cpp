#include "history/RunRecord.h"

#include "echo/EchoCodes.h"

#include <QStringList>

namespace history {

QString OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::TimedOut:
        return QStringLiteral("timed out");
    case Outcome::Unreachable:
        return QStringLiteral("unreachable");
    case Outcome::Error:
        return QStringLiteral("error");
    case Outcome::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

QString CommandName(Command c) {
    switch (c) {
    case Command::CheckOne:
        return QStringLiteral("check one");
    case Command::CheckAll:
        return QStringLiteral("check all");
    case Command::Ping:
        return QStringLiteral("ping");
    case Command::Trace:
        return QStringLiteral("trace");
    }
    return {};
}

QString EncodeEchoes(const QVector<Echo>& echoes, bool trace) {
    QStringList items;
    items.reserve(echoes.size());
    for (const Echo& e : echoes) {
        QString item;
        if (trace)
            item = QString::number(e.Ttl) + QLatin1Char(':');
        if (e.Rtt >= 0 && (e.Status == EchoStatus::Answered || trace))
            item += QString::number(e.Rtt);
        else if (e.Status == EchoStatus::TimedOut)
            item += QLatin1Char('*');
        else
            item += QLatin1Char('!') + QString::number(e.Status);
        if (trace && e.Rtt >= 0 && e.Status != EchoStatus::Answered)
            item += QLatin1Char('!') + QString::number(e.Status);
        if (trace && !e.Node.isEmpty())
            item += QLatin1Char('@') + e.Node;
        items << item;
    }
    return items.join(QLatin1Char(','));
}

QVector<Echo> DecodeEchoes(const QString& text, bool trace) {
    QVector<Echo> echoes;
    if (text.isEmpty())
        return echoes;
    for (QString item : text.split(QLatin1Char(','))) {
        Echo e;
        if (trace) {
            const int at = item.indexOf(QLatin1Char('@'));
            if (at >= 0) {
                e.Node = item.mid(at + 1);
                item.truncate(at);
            }
            const int colon = item.indexOf(QLatin1Char(':'));
            e.Ttl = item.left(colon).toInt();
            item = item.mid(colon + 1);
        }
        const int bang = item.indexOf(QLatin1Char('!'));
        const QString rtt = bang >= 0 ? item.left(bang) : item;
        if (bang >= 0)
            e.Status = item.mid(bang + 1).toInt();
        if (rtt == QLatin1String("*"))
            e.Status = EchoStatus::TimedOut;
        else if (!rtt.isEmpty())
            e.Rtt = rtt.toInt();
        echoes << e;
    }
    return echoes;
}

} // namespace history
