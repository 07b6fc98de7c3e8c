#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// One program per user session: the first start offers a service on the
// session bus, named after the application id, and later starts hand it
// their file (or nothing) and end, so that the running program opens the
// file and comes to the front. Without a session bus every start simply
// runs.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // The bus names: service, object path and interface.
    static QString ServiceName();
    static QString ObjectPath();

    // Takes the service, or, when a running program holds it, hands it the
    // file (made absolute here: the running program has its own current
    // folder) and returns true: this start is then done. False when this
    // process is the one to run, also when there is no bus or the running
    // program does not answer.
    bool HandOver(const QString& file);
    // As HandOver, but a running program is only asked whether it answers
    // and is left as it is (a start at login that finds the program running
    // ends quietly, without bringing its window to the front).
    bool StandAside();

    // Where the requests of later starts go, on the window thread: a file,
    // or an empty text for "come to the front". Requests that came before
    // are handed on now.
    void Serve(std::function<void(const QString&)> open);
    // Gives the service up: a start from now on runs as a program of its
    // own instead of handing its file to this one, which is ending.
    void Close();

private:
    class Object;
    enum class Ask { Open, Present };
    bool Claim(Ask ask, const QString& file);
    void Request(const QString& file);

    std::unique_ptr<Object> FObject;
    bool FRegistered = false;
    std::function<void(const QString&)> FOpen;
    QStringList FPending;
};
