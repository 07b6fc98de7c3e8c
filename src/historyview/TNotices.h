#pragma once

#include <QObject>
#include <QString>
#include <QVector>

namespace history {

// A host that began or stopped answering between two of its runs.
struct Change {
    QString Entry;
    bool Answering = false;
    qint64 TimeMs = 0; // UTC milliseconds
};

// Desktop notifications through the freedesktop notification service on
// the session bus. Calls go out without waiting for an answer: without a
// bus or without the service nothing happens and nothing fails.
class TNotices : public QObject {
    Q_OBJECT
public:
    explicit TNotices(QObject* owner = nullptr);

    // One notification for all changes of a round; none for no change.
    void Notify(const QVector<Change>& changes);

    // Sends one notification; with suppressSound the desktop is asked not
    // to play a sound of its own (the program plays one).
    static void Send(const QString& summary, const QString& body, bool suppressSound);

    // The texts a notification for these changes carries.
    static QString Summary(const QVector<Change>& changes);
    static QString Body(const QVector<Change>& changes);
};

} // namespace history
