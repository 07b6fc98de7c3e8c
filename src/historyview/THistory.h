#pragma once

#include "history/RunRecord.h"
#include "historyview/TNotices.h"

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QVector>
#include <functional>

class TAxIcmpTask;
class TAxPing;
class TAxTrace;
class TTrayIcon;

namespace history {

class THistoryStore;

// The memory of the window's runs: follows the echoes of its ping and trace
// components, turns every ended run into a record for the store, and at the
// end of each automatic round marks the tray icon while a host did not
// answer and sends one notice for the hosts that began or stopped
// answering. A store that fails shows its message once and records no more.
class THistory : public QObject {
    Q_OBJECT
public:
    explicit THistory(const QString& path, QObject* owner = nullptr);
    ~THistory() override;

    THistoryStore* Store() const { return FStore; }
    TNotices* Notices() const { return FNotices; }
    const QString& Path() const;

    // Follows the echoes of both components through their Data signals,
    // whatever handlers their data events have now or later.
    void Attach(TAxPing* ping, TAxTrace* trace);
    // The icon to mark; its current picture is the unmarked one.
    void AttachTray(TTrayIcon* tray);

    // A run of task for entry has ended: by its finished event, or by its
    // error event (failed, with the code and text).
    void RunEnded(TAxIcmpTask* task, const QString& entry, Command kind, bool automatic,
                  bool failed = false, int error = 0, const QString& message = {});
    // An automatic Check All has been through every entry.
    void RoundEnded();
    // A host of the last automatic round did not answer.
    bool Trouble() const { return FTrouble; }

    // The record the last ended run produced.
    const RunRecord& LastRecord() const { return FLast; }
    // Whether a round ends with a notice of the hosts that began or stopped
    // answering; off where another part sends notices of host states.
    bool SendNotices = true;
    // Whether the tray icon is marked while a host of the last round did
    // not answer; off where another part marks it. Turning it off takes the
    // mark away.
    bool MarkTray() const { return FMarkTray; }
    void SetMarkTray(bool On);
    // The clock of the records (UTC milliseconds); replaceable for tests.
    std::function<qint64()> Clock;

private:
    void Collect(TAxIcmpTask* task, bool trace);
    RunRecord Build(TAxIcmpTask* task, const QString& entry, Command kind, bool automatic,
                    bool failed, int error, const QString& message);
    void CloseRound();
    void SetTrouble(bool On);
    void StoreFailed(const QString& message);

    THistoryStore* FStore;
    TNotices* FNotices;
    QPointer<TTrayIcon> FTray;
    QIcon FTrayIcon;
    QHash<TAxIcmpTask*, QVector<Echo>> FEchoes;
    // Whether each entry answered in its last run.
    QHash<QString, bool> FAnswering;
    // The automatic round in progress.
    bool FRoundOpen = false;
    bool FRoundTrouble = false;
    QVector<Change> FRoundChanges;
    bool FTrouble = false;
    bool FMarkTray = true;
    RunRecord FLast;
};

// The icon with a small red mark in its lower right corner.
QIcon TroubleIcon(const QIcon& icon);

} // namespace history
