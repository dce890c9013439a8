#pragma once

// The live page's server: one page (HTML, its script and style, from the tool's resources), the
// figures as JSON for scripts (/figures.json), and a WebSocket (/live) that pushes one message per
// reading to every page open. A page that connects first gets the snapshot of what it shows (the
// last hour, the last day's minutes, today's figures), then every reading after it.
//
// Read-only: only GET is answered, and nothing a client sends changes the meter or a file; what a
// page sends on its WebSocket is ignored. A client that does not keep up (its unsent messages pile up
// beyond MaxQueuedBytes) is dropped rather than let the tool's memory grow; its page reconnects and
// starts again from the snapshot.

#include "core/LiveReading.h"
#include "liveweb/LiveWebAddress.h"
#include "liveweb/LiveWebFigures.h"

#include <QHttpServer>
#include <QObject>

#include <memory>
#include <vector>

class QTcpServer;
class QWebSocket;

class LiveWebServer final : public QObject {
    Q_OBJECT

public:
    // Above the largest snapshot (an hour of readings 0.3 s apart and a day of minutes, about 300 KB)
    // and minutes of readings: only a page that has stopped reading gets there.
    static constexpr qint64 MaxQueuedBytes = 1024 * 1024;
    // More pages than this at once are turned away (each costs a socket and a share of every reading),
    // so that pages that stop reading can hold at most MaxClients × MaxQueuedBytes, 100 MB.
    static constexpr std::size_t MaxClients = 100;

    explicit LiveWebServer(const LiveWebSettings& settings, QObject* parent = nullptr);
    ~LiveWebServer() override;

    // Starts serving; an empty text when it does, else why not ("The bound address is already in use").
    QString listen(const LiveWebAddress& address);
    quint16 port() const;

    // The next reading, to every page.
    void take(const LiveReading& reading);
    // Closes every WebSocket, so that the pages know at once that the tool has ended.
    void closeAll();

    std::size_t clientCount() const { return clients_.size(); }
    const LiveWebFigures& figures() const { return figures_; }

private:
    void acceptWebSockets();
    void drop(QWebSocket* socket);
    void sendToAll(const QString& message);

    LiveWebFigures figures_;
    QHttpServer http_;
    // Owned by http_ once bound.
    QTcpServer* tcp_ = nullptr;
    std::vector<std::unique_ptr<QWebSocket>> clients_;
};
