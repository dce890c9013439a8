#include "liveweb/LiveWebServer.h"

#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QWebSocket>

#include <algorithm>

// Resources of a static library are registered by hand, once, from outside any namespace.
static void RegisterLiveWebResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(liveweb);
        return true;
    }();
    (void)registered;
}

namespace {

// The page's files, as the tool's resources hold them.
QHttpServerResponse PageFile(const char* name, const QByteArray& mimeType)
{
    QFile file(QStringLiteral(":/liveweb/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QHttpServerResponse(QHttpServerResponse::StatusCode::NotFound);
    return QHttpServerResponse(mimeType, file.readAll());
}

// A browser names the page that opens a WebSocket (Origin); another site's page open in the same
// browser must not read the readings through it. Programs that name no page are let in.
bool FromOwnPage(const QWebSocket& socket)
{
    if (socket.origin().isEmpty())
        return true;
    const QUrl origin(socket.origin());
    const QUrl asked = socket.requestUrl();
    return origin.host().compare(asked.host(), Qt::CaseInsensitive) == 0 && origin.port(80) == asked.port(80);
}

QString Compact(const QJsonObject& message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

} // namespace

LiveWebServer::LiveWebServer(const LiveWebSettings& settings, QObject* parent)
    : QObject(parent)
    , figures_(settings)
{
    RegisterLiveWebResources();
    using Method = QHttpServerRequest::Method;
    http_.route(QStringLiteral("/"), Method::Get,
        [] { return PageFile("index.html", QByteArrayLiteral("text/html; charset=utf-8")); });
    http_.route(QStringLiteral("/live.js"), Method::Get,
        [] { return PageFile("live.js", QByteArrayLiteral("text/javascript; charset=utf-8")); });
    http_.route(QStringLiteral("/live.css"), Method::Get,
        [] { return PageFile("live.css", QByteArrayLiteral("text/css; charset=utf-8")); });
    http_.route(QStringLiteral("/figures.json"), Method::Get, [this] {
        QHttpServerResponse response(
            QByteArrayLiteral("application/json"), QJsonDocument(figures_.snapshot()).toJson(QJsonDocument::Compact));
        response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
        return response;
    });
    // The readings' WebSocket. The server hands a connection over to it only where a route takes the
    // upgrade request without answering it; a plain request gets told what the address is for.
    http_.route(
        QStringLiteral("/live"), Method::Get, [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            if (request.value(QByteArrayLiteral("upgrade")).compare("websocket", Qt::CaseInsensitive) == 0)
                return;
            responder.write(QByteArrayLiteral("The readings are pushed over a WebSocket at this address.\n"),
                QByteArrayLiteral("text/plain"), QHttpServerResponder::StatusCode::UpgradeRequired);
        });
    // Browsers ask for an icon; there is none, and no need to log a failure for it.
    http_.route(QStringLiteral("/favicon.ico"), Method::Get,
        [] { return QHttpServerResponse(QHttpServerResponse::StatusCode::NoContent); });
    // The page loads nothing from elsewhere and talks only to this server.
    http_.afterRequest([](QHttpServerResponse&& response) {
        response.setHeader(QByteArrayLiteral("Content-Security-Policy"),
            QByteArrayLiteral("default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                              "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"));
        response.setHeader(QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff"));
        return std::move(response);
    });
    connect(&http_, &QAbstractHttpServer::newWebSocketConnection, this, &LiveWebServer::acceptWebSockets);
}

LiveWebServer::~LiveWebServer()
{
    for (const auto& client : clients_)
        client->disconnect(this);
}

QString LiveWebServer::listen(const LiveWebAddress& address)
{
    auto tcp = std::make_unique<QTcpServer>();
    if (!tcp->listen(address.host, address.port))
        return tcp->errorString();
    tcp_ = tcp.release();
    http_.bind(tcp_);
    return {};
}

quint16 LiveWebServer::port() const
{
    return tcp_ ? tcp_->serverPort() : 0;
}

void LiveWebServer::take(const LiveReading& reading)
{
    const bool watched = !clients_.empty();
    const QJsonObject message = figures_.add(reading, watched);
    if (watched)
        sendToAll(Compact(message));
}

void LiveWebServer::closeAll()
{
    for (const auto& client : clients_) {
        client->disconnect(this);
        client->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("The logger has ended."));
        client->flush();
    }
    clients_.clear();
}

void LiveWebServer::acceptWebSockets()
{
    while (http_.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = http_.nextPendingWebSocketConnection();
        if (!socket)
            continue;
        QString refusal;
        if (socket->requestUrl().path() != QLatin1String("/live"))
            refusal = QStringLiteral("The readings are at /live.");
        else if (!FromOwnPage(*socket))
            refusal = QStringLiteral("Only the logger's own page reads its readings.");
        else if (clients_.size() >= MaxClients)
            refusal = QStringLiteral("Too many pages are open.");
        if (!refusal.isEmpty()) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
            socket.release()->deleteLater();
            continue;
        }
        QWebSocket* client = socket.get();
        connect(client, &QWebSocket::disconnected, this, [this, client] { drop(client); });
        client->sendTextMessage(Compact(figures_.snapshot()));
        clients_.push_back(std::move(socket));
    }
}

void LiveWebServer::drop(QWebSocket* socket)
{
    const auto found = std::find_if(
        clients_.begin(), clients_.end(), [socket](const auto& client) { return client.get() == socket; });
    if (found == clients_.end())
        return;
    socket->disconnect(this);
    found->release();
    clients_.erase(found);
    socket->abort();
    // Maybe called from the socket's own signal: it is deleted once that has returned.
    socket->deleteLater();
}

void LiveWebServer::sendToAll(const QString& message)
{
    std::vector<QWebSocket*> behind;
    for (const auto& client : clients_) {
        client->sendTextMessage(message);
        // Written now, in one system call, rather than from the event loop after a write notification
        // for each page: with fifty pages that notification round costs more than the writes.
        client->flush();
        if (client->bytesToWrite() > MaxQueuedBytes)
            behind.push_back(client.get());
    }
    for (QWebSocket* client : behind)
        drop(client);
}
