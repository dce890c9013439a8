// The live page's server in-process on a loopback port of the system's choosing, reached with a real
// HTTP client (QNetworkAccessManager) and real WebSocket clients: what it serves, what it refuses,
// what a page opened late gets first, and a client that stops reading.

#include "liveweb/LiveWebServer.h"
#include "support/TestModule.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Answer {
    int status = 0;
    QByteArray contentType;
    QByteArray policy;
    QByteArray body;
};

Answer Ask(const QString& method, const QUrl& url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method.toLatin1()));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->rawHeader("Content-Type"),
        reply->rawHeader("Content-Security-Policy"), reply->readAll() };
}

// A page's WebSocket: every message it received, parsed.
struct Page {
    explicit Page(const QUrl& url, const QString& origin = {})
        : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
            [this](const QString& text) { messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object()); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        socket.open(url);
    }
    std::vector<qint64> seqs() const
    {
        std::vector<qint64> seqs;
        for (const QJsonObject& message : messages)
            seqs.push_back(message.value(QLatin1String("seq")).toInteger());
        return seqs;
    }
    QWebSocket socket;
    std::vector<QJsonObject> messages;
    bool closed = false;
};

class LiveWebServerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server.listen({ QHostAddress(QHostAddress::LocalHost), 0 }), QString()); }

    QUrl url(const QString& path, const QString& scheme = QStringLiteral("http")) const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(server.port()).arg(path));
    }

    void take(int count, std::int32_t tenths = 550)
    {
        for (int i = 0; i < count; ++i) {
            server.take({ time, tenths, 0x40 });
            time = time.addSecs(1);
        }
    }

    LiveWebServer server { LiveWebSettings {} };
    QDateTime time { QDate(2026, 12, 10), QTime(14, 0), Qt::OffsetFromUTC, 3600 };
};

} // namespace

TEST_F(LiveWebServerTest, ServesThePageAndTheFiguresAndNothingElse)
{
    take(3);
    struct Case {
        const char* method;
        const char* path;
        int status;
        const char* contentType;
        const char* contains;
    };
    const Case cases[] = {
        { "GET", "/", 200, "text/html; charset=utf-8", "<canvas id=\"hour-chart\"" },
        { "GET", "/live.js", 200, "text/javascript; charset=utf-8", "new WebSocket(" },
        { "GET", "/live.css", 200, "text/css; charset=utf-8", ".level" },
        { "GET", "/figures.json", 200, "application/json", "\"type\":\"history\"" },
        { "GET", "/live", 426, "text/plain", "WebSocket" },
        { "GET", "/favicon.ico", 204, "", "" },
        { "GET", "/../etc/passwd", 404, "", "" },
        { "GET", "/index.html.bak", 404, "", "" },
        // Read-only: nothing but GET is taken.
        { "POST", "/", 404, "", "" },
        { "PUT", "/figures.json", 404, "", "" },
        { "DELETE", "/live", 404, "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        const Answer answer = Ask(QString::fromLatin1(c.method), url(QString::fromLatin1(c.path)));
        EXPECT_EQ(answer.status, c.status);
        if (c.status != 200)
            continue;
        EXPECT_EQ(answer.contentType, QByteArray(c.contentType));
        EXPECT_TRUE(answer.body.contains(c.contains));
        // Nothing is loaded from anywhere but this server.
        EXPECT_TRUE(answer.policy.contains("default-src 'none'")) << answer.policy.toStdString();
    }
    // The figures for scripts are the snapshot a page starts from.
    const QJsonObject figures = QJsonDocument::fromJson(Ask(QStringLiteral("GET"), url("/figures.json")).body).object();
    EXPECT_EQ(figures, server.figures().snapshot());
    EXPECT_EQ(figures.value(QLatin1String("seq")).toInt(), 3);
    EXPECT_EQ(figures.value(QLatin1String("hour")).toArray().size(), 3);
}

TEST_F(LiveWebServerTest, APageOpenedLateGetsTheHistoryThenEveryReadingInOrder)
{
    take(5);
    Page early(url("/live", QStringLiteral("ws")));
    ASSERT_TRUE(TestModule::waitUntil([&] { return early.messages.size() == 1; }));
    take(2);
    Page late(url("/live", QStringLiteral("ws")));
    ASSERT_TRUE(TestModule::waitUntil([&] { return late.messages.size() == 1 && early.messages.size() == 3; }));
    take(3);
    ASSERT_TRUE(TestModule::waitUntil([&] { return late.messages.size() == 4 && early.messages.size() == 6; }));
    EXPECT_EQ(early.seqs(), (std::vector<qint64> { 5, 6, 7, 8, 9, 10 }));
    EXPECT_EQ(late.seqs(), (std::vector<qint64> { 7, 8, 9, 10 }));
    const QJsonObject history = late.messages.front();
    EXPECT_EQ(history.value(QLatin1String("type")).toString(), QLatin1String("history"));
    EXPECT_EQ(history.value(QLatin1String("hour")).toArray().size(), 7);
    EXPECT_EQ(late.messages.back().value(QLatin1String("type")).toString(), QLatin1String("reading"));
    EXPECT_EQ(server.clientCount(), 2U);

    // What a page sends changes nothing; a WebSocket anywhere else, or from another site's page, is
    // refused.
    late.socket.sendTextMessage(QStringLiteral("{\"type\":\"setup\",\"range\":\"80-130\"}"));
    Page elsewhere(url("/figures", QStringLiteral("ws")));
    Page otherSite(url("/live", QStringLiteral("ws")), QStringLiteral("http://attacker.example"));
    Page ownPage(url("/live", QStringLiteral("ws")), QStringLiteral("http://127.0.0.1:%1").arg(server.port()));
    ASSERT_TRUE(
        TestModule::waitUntil([&] { return elsewhere.closed && otherSite.closed && ownPage.messages.size() == 1; }));
    EXPECT_TRUE(elsewhere.messages.empty());
    EXPECT_TRUE(otherSite.messages.empty());
    ownPage.socket.close();
    take(1);
    ASSERT_TRUE(TestModule::waitUntil([&] { return late.messages.size() == 5; }));
    EXPECT_EQ(server.figures().readingCount(), 11);

    // The end closes every page's socket, so that the pages know at once.
    server.closeAll();
    ASSERT_TRUE(TestModule::waitUntil([&] { return early.closed && late.closed; }));
}

// A client that stops reading costs the tool at most a bounded queue: it is dropped, and the others
// go on getting every reading.
TEST_F(LiveWebServerTest, AClientThatStopsReadingIsDroppedAndTheOthersGoOn)
{
    Page reader(url("/live", QStringLiteral("ws")));
    QTcpSocket stuck;
    stuck.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(stuck.waitForConnected(5000));
    stuck.write("GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(TestModule::waitUntil([&] { return server.clientCount() == 2 && reader.messages.size() == 1; }));
    // From here on the stuck client reads nothing: its kernel buffers fill, then the server's queue.
    stuck.setReadBufferSize(1);
    int taken = 0;
    while (server.clientCount() == 2 && taken < 400000) {
        take(100, 900);
        taken += 100;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(server.clientCount(), 1U) << taken << " readings taken";
    ASSERT_TRUE(TestModule::waitUntil([&] { return reader.messages.size() == std::size_t(taken) + 1; }, 60000));
    const std::vector<qint64> seqs = reader.seqs();
    for (std::size_t i = 1; i < seqs.size(); ++i)
        ASSERT_EQ(seqs[i], qint64(i));
}

TEST_F(LiveWebServerTest, APortInUseIsRefusedWithTheReason)
{
    LiveWebServer second { LiveWebSettings {} };
    const QString refused = second.listen({ QHostAddress(QHostAddress::LocalHost), server.port() });
    EXPECT_FALSE(refused.isEmpty());
    EXPECT_EQ(second.port(), 0);
}

// Pages beyond MaxClients are turned away, so that pages that stop reading can hold only so much.
TEST_F(LiveWebServerTest, PagesBeyondTheLimitAreTurnedAway)
{
    std::vector<std::unique_ptr<Page>> pages;
    for (std::size_t i = 0; i < LiveWebServer::MaxClients; ++i)
        pages.push_back(std::make_unique<Page>(url("/live", QStringLiteral("ws"))));
    ASSERT_TRUE(TestModule::waitUntil([&] { return server.clientCount() == LiveWebServer::MaxClients; }, 30000));
    Page oneTooMany(url("/live", QStringLiteral("ws")));
    ASSERT_TRUE(TestModule::waitUntil([&] { return oneTooMany.closed; }));
    EXPECT_TRUE(oneTooMany.messages.empty());
    EXPECT_EQ(oneTooMany.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    // One page closed makes room for another.
    pages.front()->socket.close();
    ASSERT_TRUE(TestModule::waitUntil([&] { return server.clientCount() == LiveWebServer::MaxClients - 1; }));
    Page next(url("/live", QStringLiteral("ws")));
    ASSERT_TRUE(TestModule::waitUntil([&] { return next.messages.size() == 1; }));
}
