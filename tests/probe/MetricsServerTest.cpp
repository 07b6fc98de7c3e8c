#include "probe/MetricsServer.h"

#include "support/EventWait.h"

#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace probe;
using netsonde::test::WaitUntil;

namespace {

class Endpoint : public ::testing::Test {
public:
    static QByteArray bodyOf(const QByteArray& answer);

protected:
    void SetUp() override {
        server = std::make_unique<MetricsServer>(
            [this](bool om) {
                lastOpenMetrics = om;
                return MetricsServer::WholeBody(QByteArray("netsonde_probe_hosts 1\n") +
                                                (om ? "# EOF\n" : ""));
            },
            [this](QString& message) {
                ++reloads;
                message = QStringLiteral("reloaded");
                return true;
            });
        QString error;
        ASSERT_TRUE(server->Listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    }

    std::unique_ptr<QTcpSocket> connectToServer() {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, server->Port());
        EXPECT_TRUE(WaitUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }));
        return s;
    }

    // Sends a request and reads until the server closes the connection.
    QByteArray exchange(const QByteArray& request) {
        auto s = connectToServer();
        s->write(request);
        QByteArray answer;
        WaitUntil([&] {
            answer += s->readAll();
            return s->state() == QAbstractSocket::UnconnectedState;
        });
        return answer + s->readAll();
    }

    std::unique_ptr<MetricsServer> server;
    bool lastOpenMetrics = false;
    int reloads = 0;
};

// The body of an answer: put together from its chunks, or as it came.
QByteArray Endpoint::bodyOf(const QByteArray& answer) {
    qsizetype at = answer.indexOf("\r\n\r\n");
    if (at < 0)
        return {};
    QByteArray rest = answer.mid(at + 4);
    if (!answer.left(at).contains("Transfer-Encoding: chunked"))
        return rest;
    QByteArray body;
    for (qsizetype pos = 0;;) {
        qsizetype eol = rest.indexOf("\r\n", pos);
        bool ok = false;
        qsizetype size = eol < 0 ? -1 : rest.mid(pos, eol - pos).toLongLong(&ok, 16);
        if (!ok || size < 0 || rest.size() < eol + 2 + size + 2)
            return "(cut chunk)";
        if (size == 0)
            return rest.mid(eol + 2) == "\r\n" ? body : "(bad end)";
        body += rest.mid(eol + 2, size);
        pos = eol + 2 + size + 2;
    }
}

} // namespace

TEST_F(Endpoint, ServesItsThreePathsAndNothingElse) {
    QByteArray text = exchange("GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: text/plain\r\n\r\n");
    EXPECT_TRUE(text.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(text.contains("Content-Type: text/plain; version=0.0.4"));
    EXPECT_TRUE(text.contains("\r\nTransfer-Encoding: chunked\r\n"));
    EXPECT_EQ(bodyOf(text), "netsonde_probe_hosts 1\n");
    EXPECT_FALSE(lastOpenMetrics);

    QByteArray om = exchange("GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text;"
                             "version=1.0.0,text/plain;version=0.0.4;q=0.5,*/*;q=0.1\r\n\r\n");
    EXPECT_TRUE(om.contains("Content-Type: application/openmetrics-text"));
    EXPECT_TRUE(bodyOf(om).endsWith("# EOF\n"));
    exchange("GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text;q=0\r\n\r\n");
    EXPECT_FALSE(lastOpenMetrics);

    EXPECT_TRUE(exchange("GET /-/healthy HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(exchange("GET /metrics/../etc HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(exchange("GET / HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(exchange("GET /-/reload HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405"));
    EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 403"))
        << "reload is off unless enabled";
    EXPECT_EQ(reloads, 0);
    server->SetReloadEnabled(true);
    EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                    .startsWith("HTTP/1.1 200"));
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(exchange("garbage\r\n\r\n").startsWith("HTTP/1.1 400"));
    EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n")
                    .startsWith("HTTP/1.1 413"));
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(WaitUntil([&] { return server->OpenConnections() == 0; }));
}

// A reload from a browser page of another origin is refused, one of the
// same origin taken; more than one a second is told to wait.
TEST_F(Endpoint, ReloadsAreForTheirOwnOriginAndRationed) {
    server->SetReloadEnabled(true);
    const QByteArray port = QByteArray::number(server->Port());
    struct Case {
        QByteArray headers;
        const char* status;
    } cases[] = {
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://evil.example\r\n", "403"},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:1\r\n", "403"},
        {"Origin: http://127.0.0.1:" + port + "\r\n", "403"}, // no Host to match
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: null\r\n", "403"},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:" + port + "\r\n", "200"},
        {"Host: 127.0.0.1:" + port + "\r\n", "429"}, // the second within a second
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers.toStdString());
        EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\n" + c.headers + "\r\n")
                        .startsWith(QByteArray("HTTP/1.1 ") + c.status));
    }
    EXPECT_EQ(reloads, 1);
}

// Hundreds of connections that send nothing, send a byte now and then, or
// connect and go at once cannot keep a scrape out: every scrape among
// them is answered, and the slots of those that went are free at once.
TEST_F(Endpoint, CrowdsOfIdleSlowAndVanishingClientsDoNotKeepAScrapeOut) {
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < MetricsServer::MaxConnections + 100; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, server->Port());
        if (i % 2 == 0)
            crowd.back()->write("G");
    }
    for (int scrape = 0; scrape < 5; ++scrape) {
        QByteArray answer = exchange("GET /metrics HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << scrape;
        for (int i = 0; i < 20; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            crowd.back()->connectToHost(QHostAddress::LocalHost, server->Port());
        }
    }
    EXPECT_LE(server->OpenConnections(), MetricsServer::MaxConnections);
    crowd.clear();

    // Connections that close before they are served leave nothing behind.
    for (int i = 0; i < MetricsServer::MaxConnections + 32; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, server->Port());
        WaitUntil([&] { return s.state() == QAbstractSocket::ConnectedState; });
        s.abort();
    }
    EXPECT_TRUE(exchange("GET /metrics HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(WaitUntil([&] { return server->OpenConnections() == 0; }, 5000));
}

// A request line without end is cut off at the head limit, while the
// event loop goes on serving timers at its usual pace.
TEST_F(Endpoint, AHugeRequestLineIsRefusedWithoutHoldingTheLoop) {
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    auto s = connectToServer();
    QByteArray chunk(64 * 1024, 'A');
    s->write("GET /");
    for (int i = 0; i < 64; ++i) // 4 MiB
        s->write(chunk);
    QByteArray answer;
    ASSERT_TRUE(WaitUntil([&] {
        answer += s->readAll();
        return answer.contains("\r\n\r\n");
    }));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 431"));
    EXPECT_TRUE(WaitUntil([&] { return server->OpenConnections() == 0; }));
    // The refusal may come before the first tick; the loop still ticks.
    EXPECT_TRUE(WaitUntil([&] { return ticks > 0; }));
}

// Clients that connect and send nothing (or too little) take one slot each
// until the deadline; further ones wait, and nobody waits for ever.
TEST_F(Endpoint, SlowClientsAreBoundedInNumberAndTime) {
    server->SetDeadlineMsForTests(300);
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < MetricsServer::MaxConnections + 8; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, server->Port());
        idle.back()->write("GET /metrics HTTP/1.1\r\n");
    }
    int most = 0;
    WaitUntil(
        [&] {
            most = std::max(most, server->OpenConnections());
            return false;
        },
        200);
    EXPECT_LE(most, MetricsServer::MaxConnections);
    EXPECT_GT(most, 0);
    // After the deadline every one of them is closed, and a normal scrape
    // gets its answer.
    ASSERT_TRUE(WaitUntil([&] {
        for (auto& s : idle)
            if (s->state() != QAbstractSocket::UnconnectedState)
                return false;
        return true;
    }));
    EXPECT_TRUE(exchange("GET /metrics HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200"));
}

// A scrape far larger than any buffer is written piece by piece as the
// client reads: a client that reads nothing has only a few pieces made for
// it while the loop goes on ticking, and one that reads gets every byte,
// in order, in well-formed chunks (or up to the close for HTTP/1.0).
TEST(EndpointStream, WritesPiecesOnlyAsTheClientReads) {
    constexpr int Pieces = 400; // 400 pieces of 64 KiB: 25 MiB
    int made = 0;
    auto render = [&made](bool) -> MetricsServer::Body {
        auto next = std::make_shared<int>(0);
        return [&made, next](QByteArray& out, qsizetype) {
            if (*next == Pieces)
                return false;
            out += QByteArray(64 * 1024, static_cast<char>('a' + *next % 26));
            ++*next;
            ++made;
            return true;
        };
    };
    MetricsServer server(render, [](QString&) { return true; });
    QString error;
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0, error));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);

    QTcpSocket stalled;
    stalled.setReadBufferSize(4096);
    stalled.connectToHost(QHostAddress::LocalHost, server.Port());
    stalled.write("GET /metrics HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(WaitUntil([&] { return made > 0; }));
    const int before = ticks;
    WaitUntil([&] { return ticks > before + 50; });
    // The kernel's buffers on both sides take some pieces; the rest wait.
    EXPECT_LT(made, 128) << "pieces made for a client that reads nothing";
    stalled.abort();

    for (const char* version : {"HTTP/1.1", "HTTP/1.0"}) {
        made = 0;
        QTcpSocket reader;
        reader.connectToHost(QHostAddress::LocalHost, server.Port());
        reader.write(QByteArray("GET /metrics ") + version + "\r\n\r\n");
        QByteArray answer;
        ASSERT_TRUE(WaitUntil([&] {
            answer += reader.readAll();
            return reader.state() == QAbstractSocket::UnconnectedState;
        }));
        answer += reader.readAll();
        QByteArray body = Endpoint::bodyOf(answer);
        ASSERT_EQ(body.size(), qsizetype{Pieces} * 64 * 1024) << version;
        for (int i = 0; i < Pieces; ++i)
            ASSERT_EQ(body[qsizetype{i} * 64 * 1024], 'a' + i % 26) << version << " piece " << i;
        EXPECT_EQ(answer.contains("Transfer-Encoding: chunked"),
                  std::string(version) == "HTTP/1.1");
    }
    EXPECT_TRUE(WaitUntil([&] { return server.OpenConnections() == 0; }));
}
