#include "probe/MetricsServer.h"

#include "probe/ProbeMetrics.h"

#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>

namespace probe {

namespace {

// Bytes handed to the socket at a time: a client that does not read keeps
// at most this much in the socket's buffer beside the body itself.
constexpr qint64 WriteChunk = 256 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    default:
        return "Error";
    }
}

} // namespace

bool WantsOpenMetrics(const QByteArray& accept) {
    for (const QByteArray& part : accept.split(',')) {
        QByteArray item = part.trimmed().toLower();
        if (!item.startsWith("application/openmetrics-text"))
            continue;
        bool refused = false;
        for (const QByteArray& param : item.split(';').mid(1)) {
            QByteArray p = param.trimmed();
            if (p.startsWith("q=")) {
                bool ok = false;
                double q = p.mid(2).toDouble(&ok);
                refused = ok && q <= 0;
            }
        }
        if (!refused)
            return true;
    }
    return false;
}

struct MetricsServer::Connection {
    QTcpSocket* socket = nullptr;
    QTimer deadline;
    QByteArray input;
    bool headDone = false;
    QByteArray method;
    QByteArray path;
    QByteArray accept;
    QByteArray authorization;
    QByteArray origin;
    QByteArray host;
    qsizetype bodyLength = 0;
    qsizetype headLength = 0;
    bool http10 = false;
    // The response goes out from one buffer after another: its head, then
    // the whole body or the pieces a stream writes into one reused buffer
    // (a body of tens of megabytes is not copied again).
    QByteArray head;
    QByteArray body;
    QByteArray piece;
    Body stream;
    bool chunked = false;
    const QByteArray* current = nullptr;
    qsizetype at = 0;
    bool finished = false; // nothing follows the current buffer
    bool responding = false;
    bool draining = false;
};

MetricsServer::MetricsServer(Render render, Reload reload, QObject* parent)
    : QObject(parent), FRender(std::move(render)), FReload(std::move(reload)) {
    SetWebConfig(nullptr);
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::SetWebConfig(std::shared_ptr<const WebConfig> config) {
    FWeb = std::move(config);
    delete FServer;
    if (FWeb && FWeb->tls) {
        auto* server = new QSslServer(this);
        server->setSslConfiguration(FWeb->ssl);
        FServer = server;
    } else {
        FServer = new QTcpServer(this);
    }
    FServer->setMaxPendingConnections(MaxConnections);
    // After the handshake where there is one.
    connect(FServer, &QTcpServer::pendingConnectionAvailable, this, &MetricsServer::Accept);
}

MetricsServer::Body MetricsServer::WholeBody(QByteArray bytes) {
    return [bytes = std::move(bytes), done = false](QByteArray& out, qsizetype) mutable {
        if (done)
            return false;
        out += bytes;
        done = true;
        return true;
    };
}

bool MetricsServer::Listen(const QHostAddress& address, quint16 port, QString& error) {
    if (!FServer->listen(address, port)) {
        error = FServer->errorString();
        return false;
    }
    return true;
}

quint16 MetricsServer::Port() const {
    return FServer->serverPort();
}

void MetricsServer::Accept() {
    while (FServer->hasPendingConnections()) {
        if (FOpen >= MaxConnections && !PushOutOldestWaiting()) {
            // Every slot is answering: the kernel keeps the next ones
            // waiting until one ends.
            FServer->pauseAccepting();
            return;
        }
        QTcpSocket* socket = FServer->nextPendingConnection();
        if (!socket)
            break;
        Take(socket);
    }
}

bool MetricsServer::PushOutOldestWaiting() {
    for (Connection* c : FConnections)
        if (!c->responding) {
            Finish(c);
            return true;
        }
    return false;
}

void MetricsServer::Take(QTcpSocket* socket) {
    ++FOpen;
    auto* c = new Connection;
    c->socket = socket;
    FConnections.push_back(c);
    // Qt stops reading from the kernel when this much waits unread, so
    // a client that sends without end is held back by TCP itself.
    socket->setReadBufferSize(MaxHeadBytes + 1024);
    c->deadline.setSingleShot(true);
    connect(&c->deadline, &QTimer::timeout, socket, [this, c] { Finish(c); });
    c->deadline.start(FHeadDeadlineMs);
    connect(socket, &QTcpSocket::readyRead, socket, [this, c] { Read(c); });
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, c] { Pump(c); });
    connect(socket, &QTcpSocket::disconnected, socket, [this, c] { Finish(c); });
    // What the client sent before it was taken is read now: a request that
    // came at once is complete before any later connection could push it
    // out, and a client that has gone already frees its slot at once.
    if (!FWeb || !FWeb->tls)
        socket->waitForReadyRead(0);
    if (socket->state() != QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
        Finish(c);
    else if (socket->bytesAvailable() > 0)
        Read(c);
}

void MetricsServer::Read(Connection* c) {
    if (c->responding) {
        c->socket->readAll(); // nothing more is read once the answer began
        return;
    }
    qsizetype room =
        (c->headDone ? c->headLength + c->bodyLength : MaxHeadBytes) - c->input.size() + 1;
    c->input += c->socket->read(std::max<qsizetype>(room, 1));
    if (!c->headDone) {
        qsizetype end = c->input.indexOf("\r\n\r\n");
        if (end < 0) {
            if (c->input.size() > MaxHeadBytes)
                Respond(c, 431, "text/plain; charset=utf-8", "request head too large\n");
            return;
        }
        c->headDone = true;
        c->headLength = end + 4;
        QList<QByteArray> lines = c->input.left(end).split('\n');
        QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
            Respond(c, 400, "text/plain; charset=utf-8", "bad request\n");
            return;
        }
        c->method = requestLine[0];
        c->http10 = requestLine[2] == "HTTP/1.0";
        c->path = requestLine[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines[i].trimmed();
            qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            QByteArray name = line.left(colon).trimmed().toLower();
            QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "accept")
                c->accept = value;
            else if (name == "authorization")
                c->authorization = value;
            else if (name == "origin")
                c->origin = value;
            else if (name == "host")
                c->host = value;
            else if (name == "content-length") {
                bool ok = false;
                qlonglong length = value.toLongLong(&ok);
                if (!ok || length < 0) {
                    Respond(c, 400, "text/plain; charset=utf-8", "bad content length\n");
                    return;
                }
                if (length > MaxBodyBytes) {
                    Respond(c, 413, "text/plain; charset=utf-8", "request body too large\n");
                    return;
                }
                c->bodyLength = static_cast<qsizetype>(length);
            } else if (name == "transfer-encoding") {
                Respond(c, 400, "text/plain; charset=utf-8", "chunked requests not taken\n");
                return;
            }
        }
    }
    if (c->input.size() < c->headLength + c->bodyLength)
        return; // the body is still coming

    // The query string does not select anything.
    QByteArray path = c->path;
    if (qsizetype query = path.indexOf('?'); query >= 0)
        path.truncate(query);
    const QByteArray& m = c->method;
    if (FWeb && !FWeb->users.empty() && !FWeb->Admits(c->authorization))
        return Respond(c, 401, "text/plain; charset=utf-8", "Unauthorized\n");
    if (path == "/metrics") {
        if (m != "GET" && m != "HEAD")
            return Respond(c, 405, "text/plain; charset=utf-8", "use GET\n");
        bool om = WantsOpenMetrics(c->accept);
        Stream(c, om ? OpenMetricsContentType : TextContentType, FRender(om), m == "HEAD");
    } else if (path == "/-/healthy") {
        if (m != "GET" && m != "HEAD")
            return Respond(c, 405, "text/plain; charset=utf-8", "use GET\n");
        Respond(c, 200, "text/plain; charset=utf-8", "Healthy.\n", m == "HEAD");
    } else if (path == "/-/reload") {
        if (m != "POST" && m != "PUT")
            return Respond(c, 405, "text/plain; charset=utf-8", "use POST\n");
        AnswerReload(c);
    } else {
        Respond(c, 404, "text/plain; charset=utf-8", "not found: use /metrics\n");
    }
}

void MetricsServer::AnswerReload(Connection* c) {
    if (!FReloadEnabled)
        return Respond(c, 403, "text/plain; charset=utf-8",
                       "Lifecycle API is not enabled: start with --web.enable-lifecycle, or "
                       "send SIGHUP\n");
    // A browser names the page's origin; a page of another site must not
    // reload the prober behind its user's back.
    if (!c->origin.isEmpty()) {
        const QUrl origin(QString::fromLatin1(c->origin));
        const QByteArray authority =
            origin.host(QUrl::FullyEncoded).toLatin1() +
            (origin.port() >= 0 ? ':' + QByteArray::number(origin.port()) : QByteArray());
        if (!origin.isValid() || authority.toLower() != c->host.toLower())
            return Respond(c, 403, "text/plain; charset=utf-8", "cross-origin request refused\n");
    }
    if (!FReloadClock.isValid() || FReloadClock.elapsed() >= 1000) {
        FReloadClock.start();
        FReloadsThisSecond = 0;
    }
    if (++FReloadsThisSecond > ReloadsPerSecond)
        return Respond(c, 429, "text/plain; charset=utf-8", "one reload per second\n");
    QString message;
    bool ok = FReload(message);
    Respond(c, ok ? 200 : 500, "text/plain; charset=utf-8", message.toUtf8() + '\n');
}

void MetricsServer::Respond(Connection* c, int status, const QByteArray& contentType,
                            QByteArray body, bool headOnly) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\r\nContent-Type: " + contentType +
                      "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n";
    if (status == 405)
        head += c->path.startsWith("/-/reload") ? "Allow: POST, PUT\r\n" : "Allow: GET, HEAD\r\n";
    if (status == 401)
        head += "WWW-Authenticate: Basic realm=\"netsonde-probe\", charset=\"UTF-8\"\r\n";
    if (status == 429)
        head += "Retry-After: 1\r\n";
    head += "\r\n";
    c->body = headOnly ? QByteArray() : std::move(body);
    Begin(c, std::move(head));
}

void MetricsServer::Stream(Connection* c, const QByteArray& contentType, Body body, bool headOnly) {
    // The length is not known before the end: an HTTP/1.1 client gets
    // chunks, whose last one tells a whole answer from a cut one; an
    // HTTP/1.0 client reads to the close.
    c->chunked = !c->http10;
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType +
                      (c->chunked ? "\r\nTransfer-Encoding: chunked" : "") +
                      "\r\nConnection: close\r\n\r\n";
    if (!headOnly)
        c->stream = std::move(body);
    Begin(c, std::move(head));
}

void MetricsServer::Begin(Connection* c, QByteArray head) {
    c->responding = true;
    c->deadline.start(FDeadlineMs);
    c->input.clear();
    c->input.squeeze();
    c->head = std::move(head);
    c->current = &c->head;
    c->at = 0;
    c->finished = false;
    Pump(c);
}

bool MetricsServer::NextPiece(Connection* c) {
    if (c->finished)
        return false;
    if (c->current == &c->head && !c->body.isEmpty()) {
        c->current = &c->body;
        c->at = 0;
        c->finished = true;
        return true;
    }
    if (!c->stream) {
        c->finished = true;
        return false;
    }
    // Room before the piece for its chunk size line, written once the
    // size is known; the buffer keeps its capacity from piece to piece.
    constexpr qsizetype SizeRoom = 16;
    QByteArray& piece = c->piece;
    piece.resize(SizeRoom);
    const bool more = c->stream(piece, WriteChunk);
    if (!more) {
        c->stream = nullptr;
        c->finished = true;
        if (!c->chunked)
            return false;
        piece.resize(SizeRoom);
        piece += "0\r\n\r\n";
        c->current = &piece;
        c->at = SizeRoom;
        return true;
    }
    c->at = SizeRoom;
    if (c->chunked) {
        const qsizetype length = piece.size() - SizeRoom;
        if (length == 0)
            return NextPiece(c);
        const QByteArray size = QByteArray::number(length, 16) + "\r\n";
        c->at = SizeRoom - size.size();
        std::memcpy(piece.data() + c->at, size.constData(), static_cast<std::size_t>(size.size()));
        piece += "\r\n";
    }
    c->current = &piece;
    return true;
}

void MetricsServer::Pump(Connection* c) {
    if (!c->responding || c->draining)
        return;
    while (c->socket->bytesToWrite() < WriteChunk) {
        if (c->at >= c->current->size()) {
            // The piece written next is made only when the client has
            // taken the last one: a client that does not read holds one
            // piece, not the whole answer.
            if (!NextPiece(c))
                break;
            continue;
        }
        const char* data = c->current->constData() + c->at;
        const qint64 length = std::min<qint64>(WriteChunk, c->current->size() - c->at);
        qint64 n = -1;
        if (c->socket->bytesToWrite() == 0 && !(FWeb && FWeb->tls)) {
            // Straight into the kernel's buffer while it takes it, without a
            // copy into the socket's own; when it is full, one piece waits in
            // the socket, whose bytesWritten brings us back.
            n = ::send(static_cast<int>(c->socket->socketDescriptor()), data,
                       static_cast<std::size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                n = c->socket->write(data, length);
        } else {
            n = c->socket->write(data, length);
        }
        if (n <= 0) {
            Finish(c);
            return;
        }
        c->at += n;
    }
    if (c->finished && c->at >= c->current->size() && c->socket->bytesToWrite() == 0) {
        // Closing at once would reset a connection whose client is still
        // sending, and take the answer with it: the sending side is shut,
        // what still comes is read and dropped, and the client's close (or
        // a short deadline) ends the connection.
        c->draining = true;
        c->current = nullptr;
        c->head = QByteArray();
        c->body = QByteArray();
        c->piece = QByteArray();
        c->socket->flush();
        if (FWeb && FWeb->tls) {
            // The TLS session ends with its own closing message.
            c->socket->disconnectFromHost();
            return;
        }
        ::shutdown(static_cast<int>(c->socket->socketDescriptor()), SHUT_WR);
        c->deadline.start(std::min(
            c->deadline.remainingTime() < 0 ? FDeadlineMs : c->deadline.remainingTime(), 2000));
    }
}

void MetricsServer::Finish(Connection* c) {
    if (!c->socket)
        return;
    QTcpSocket* socket = c->socket;
    c->socket = nullptr;
    socket->disconnect();
    socket->disconnectFromHost();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    socket->deleteLater();
    c->deadline.stop();
    FConnections.remove(c);
    // The connection's lambdas live on the socket; the record goes with it.
    QObject::connect(socket, &QObject::destroyed, [c] { delete c; });
    --FOpen;
    FServer->resumeAccepting();
    QTimer::singleShot(0, this, &MetricsServer::Accept);
}

} // namespace probe
