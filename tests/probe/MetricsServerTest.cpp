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
protected:
    void SetUp() override {
        server = std::make_unique<MetricsServer>(
            [this](bool om) {
                lastOpenMetrics = om;
                return QByteArray("netsonde_probe_hosts 1\n") + (om ? "# EOF\n" : "");
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

} // namespace

TEST_F(Endpoint, ServesItsThreePathsAndNothingElse) {
    QByteArray text = exchange("GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: text/plain\r\n\r\n");
    EXPECT_TRUE(text.startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(text.contains("Content-Type: text/plain; version=0.0.4"));
    EXPECT_TRUE(text.endsWith("\r\n\r\nnetsonde_probe_hosts 1\n"));
    EXPECT_FALSE(lastOpenMetrics);

    QByteArray om = exchange("GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text;"
                             "version=1.0.0,text/plain;version=0.0.4;q=0.5,*/*;q=0.1\r\n\r\n");
    EXPECT_TRUE(om.contains("Content-Type: application/openmetrics-text"));
    EXPECT_TRUE(om.endsWith("# EOF\n"));
    exchange("GET /metrics HTTP/1.1\r\nAccept: application/openmetrics-text;q=0\r\n\r\n");
    EXPECT_FALSE(lastOpenMetrics);

    EXPECT_TRUE(exchange("GET /-/healthy HTTP/1.0\r\n\r\n").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(exchange("GET /metrics/../etc HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(exchange("GET / HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(exchange("GET /-/reload HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405"));
    EXPECT_EQ(reloads, 0);
    EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")
                    .startsWith("HTTP/1.1 200"));
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(exchange("garbage\r\n\r\n").startsWith("HTTP/1.1 400"));
    EXPECT_TRUE(exchange("POST /-/reload HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n")
                    .startsWith("HTTP/1.1 413"));
    EXPECT_EQ(reloads, 1);
    EXPECT_TRUE(WaitUntil([&] { return server->OpenConnections() == 0; }));
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
    server->SetDeadlineMs(300);
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
