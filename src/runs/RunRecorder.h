#pragma once

#include "history/RunRecord.h"
#include "runs/RunEnd.h"

#include <QHash>
#include <QObject>
#include <QVector>
#include <functional>

class TAxIcmpTask;

namespace runs {

class RunController;

// Turns every run of a controller into the record the history keeps and the
// alert watch judges: it follows the echoes of the Ping and Trace
// components through their Data signals (which come before their data
// events, whatever handlers those have now or later) and, at the
// controller's RunEnded, classifies the run's outcome and emits Recorded.
// Everything runs on the controller's thread.
class RunRecorder : public QObject {
    Q_OBJECT
public:
    // Follows controller, which must outlive the recorder's use of it (a
    // recorder made with the controller as its parent does).
    explicit RunRecorder(RunController& controller, QObject* parent = nullptr);

    // The record of an ended run, from the echoes collected for its task.
    history::RunRecord Build(const RunEnd& end);

    // The clock of the records (UTC milliseconds).
    void SetClockForTests(std::function<qint64()> clock) { FClock = std::move(clock); }

signals:
    void Recorded(const history::RunRecord& record);

private:
    void Collect(TAxIcmpTask* task, bool trace);

    std::function<qint64()> FClock;
    QHash<TAxIcmpTask*, QVector<history::Echo>> FEchoes;
};

} // namespace runs
