#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class Tfm_ns;

// Opens the files handed to the program from outside (its command line, a
// later start) in the main window: a session file as the session load
// does, an address list file as the list's new content, anything else with
// the load's error box. A file that arrives while the window runs a
// command or shows a modal dialog waits until the window is free.
class FileOpener : public QObject {
    Q_OBJECT
public:
    enum class Kind { Session, AddressList, Unknown };
    // By the file's suffix, in any case: .nsd a session, .net an address
    // list. The content is not looked at (a file may be a FIFO).
    static Kind KindOf(const QString& path);

    explicit FileOpener(Tfm_ns* window);

    // Brings the window to the front, out of the notification area too,
    // and opens file unless it is empty. A newer file replaces one still
    // waiting.
    void Open(const QString& file);

private:
    bool WindowFree() const;
    void OpenPending();

    QPointer<Tfm_ns> FWindow;
    QString FPending;
    bool FOpening = false;
    // Looks again while a file waits for the window.
    QTimer FRetry;
};
