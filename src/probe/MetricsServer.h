#pragma once

#include "probe/WebConfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <functional>
#include <list>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace probe {

// The prober's HTTP endpoint: GET /metrics, GET /-/healthy and
// POST /-/reload, nothing else. It runs on the event loop of the thread
// that made it, one connection after another's reads and writes
// interleaved, never a thread per request. The metrics go out in chunks
// written as the client takes them, so a scrape holds the loop for one
// piece at a time and keeps one piece in memory. A request head is at most
// MaxHeadBytes, a request body MaxBodyBytes, at most MaxConnections are
// open, a request must be complete within HeadDeadlineMs and its answer
// written within DeadlineMs. With every slot taken, a new connection
// pushes out the oldest one whose request is not complete (one that sends
// its request at once is read when it is taken, so it is never pushed out);
// with every slot answering, more wait in the kernel's backlog. A slow or
// hostile client costs a bounded amount of memory and no probing time, and
// cannot keep a scrape out.
//
// POST /-/reload answers only when enabled (SetReloadEnabled), never to a
// browser's request from another origin, and at most ReloadsPerSecond.
// With a web config (SetWebConfig) the endpoint speaks TLS and asks every
// request for one of the config's users.
class MetricsServer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxHeadBytes = 8 * 1024;
    static constexpr qsizetype MaxBodyBytes = 64 * 1024;
    static constexpr int MaxConnections = 256;
    static constexpr int HeadDeadlineMs = 5'000;
    static constexpr int DeadlineMs = 30'000;
    static constexpr int ReloadsPerSecond = 1;

    // Writes a response body piece by piece: appends about budget bytes to
    // out and returns true, or returns false once everything was written.
    using Body = std::function<bool(QByteArray& out, qsizetype budget)>;
    // Starts the metrics of one scrape; true asks for OpenMetrics.
    using Render = std::function<Body(bool openMetrics)>;
    // A body that is all there at once.
    static Body WholeBody(QByteArray bytes);
    // Reloads the host list; false with a message when it failed.
    using Reload = std::function<bool(QString& message)>;

    MetricsServer(Render render, Reload reload, QObject* parent = nullptr);
    ~MetricsServer() override;

    // Lets POST /-/reload reload; off, it answers 403.
    void SetReloadEnabled(bool enabled) { FReloadEnabled = enabled; }
    // TLS and users for every request; call before Listen.
    void SetWebConfig(std::shared_ptr<const WebConfig> config);
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const;
    bool Tls() const { return FWeb && FWeb->tls; }
    int OpenConnections() const { return FOpen; }
    // A shorter deadline for a client that sends nothing.
    void SetDeadlineMsForTests(int ms) {
        FDeadlineMs = ms;
        FHeadDeadlineMs = ms;
    }

private:
    struct Connection;
    void Accept();
    void Read(Connection* c);
    void Respond(Connection* c, int status, const QByteArray& contentType, QByteArray body,
                 bool headOnly = false);
    void Stream(Connection* c, const QByteArray& contentType, Body body, bool headOnly);
    void Begin(Connection* c, QByteArray head);
    bool NextPiece(Connection* c);
    void Pump(Connection* c);
    void Finish(Connection* c);
    void Take(QTcpSocket* socket);
    bool PushOutOldestWaiting();
    void AnswerReload(Connection* c);

    QTcpServer* FServer = nullptr;
    Render FRender;
    Reload FReload;
    int FOpen = 0;
    int FDeadlineMs = DeadlineMs;
    int FHeadDeadlineMs = HeadDeadlineMs;
    bool FReloadEnabled = false;
    std::shared_ptr<const WebConfig> FWeb;
    std::list<Connection*> FConnections; // in the order they were taken
    QElapsedTimer FReloadClock;
    int FReloadsThisSecond = 0;
};

// True when an Accept header prefers OpenMetrics over the text format
// (a listed OpenMetrics type without q=0 is enough: Prometheus asks for it
// first when it wants it).
bool WantsOpenMetrics(const QByteArray& accept);

} // namespace probe
