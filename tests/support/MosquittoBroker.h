#pragma once

// A real MQTT broker and a real subscriber for tests that publish: `mosquitto` on a free loopback port,
// and `mosquitto_sub`, the client a user would watch a broker with.
//
//     MosquittoBroker broker;
//     ASSERT_TRUE(broker.start()) << broker.error();
//     MqttSubscriber subscriber(broker, { "decimora/#" });
//     ASSERT_TRUE(subscriber.start()) << subscriber.error();
//     ... publish to broker.address() ...
//     ASSERT_TRUE(subscriber.waitForMessages("decimora/state", 10)) << subscriber.error();
//     for (const MqttMessage& m : subscriber.messages("decimora/state")) ...
//
// Everything the broker writes (its configuration, log and saved sessions) stays in a temporary folder
// of its own that goes with it.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <utility>

class QProcess;
class QTemporaryDir;

// What a broker asks of its clients beyond an anonymous plain connection.
struct MosquittoSecurity {
    // The users and their passwords, put in a password_file with mosquitto_passwd; with any, anonymous
    // clients are refused.
    QList<std::pair<QString, QString>> users;
    // TLS on the listener: the authority's certificate and the broker's own with its key (PEM files).
    QString caFile;
    QString certFile;
    QString keyFile;
    // With TLS: a client must show a certificate the authority signed.
    bool requireCertificate = false;
};

// The files of a small certificate authority made with openssl for a test, in folder: ca.pem signed
// broker.pem (for 127.0.0.1 and localhost, key broker.key) and client.pem (key client.key);
// stranger-ca.pem is an authority that signed neither. False, with openssl's words in error, if
// openssl fails.
bool MakeTestCertificates(const QString& folder, QString& error);

class MosquittoBroker {
public:
    // Picks a free loopback port and writes the configuration; the broker is not started yet, so the
    // port has nothing behind it until start().
    explicit MosquittoBroker(const MosquittoSecurity& security = {});
    // Stops the broker if it runs.
    ~MosquittoBroker();

    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts the broker, again on the same port after stop(), and returns once it accepts connections.
    // False, with the reason and the broker's log in error(), if it does not within ten seconds.
    bool start();
    // Stops the broker (SIGTERM) and waits for it. It saves its sessions and the messages queued for
    // them, and the next start() brings them back, as a broker restarted on a server would.
    void stop();

    // A broker that hangs: freeze() stops the process (SIGSTOP), so it keeps its connections open but
    // reads and answers nothing, until thaw().
    void freeze();
    void thaw();
    // Kills the broker (SIGKILL), as a power cut would: it saves nothing, and the next start() brings
    // back what the last stop() saved. Data its clients sent and it had not read yet is lost with it.
    void crash();
    // Bytes its clients have sent that the broker has not read yet: while it is frozen, what they
    // published since.
    qint64 unreadBytes() const;

    bool running() const;
    std::uint16_t port() const { return port_; }
    // "127.0.0.1:PORT", as the command-line tool takes a broker.
    QString address() const;
    QString error() const { return error_; }
    QString log() const;

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<QProcess> process_;
    std::uint16_t port_ = 0;
    bool frozen_ = false;
    QString error_;
};

struct MqttMessage {
    QString topic;
    QByteArray payload;
    // Set when the broker delivered a retained message to a new subscription, not a live one.
    bool retained = false;
};

// mosquitto_sub subscribed with QoS 1 and a persistent session: it also receives what was published
// while the broker restarted. The broker's own "$SYS" topics are left out.
class MqttSubscriber {
public:
    // topicFilters as mosquitto_sub's -t takes them; clientId tells two subscribers of one test apart.
    MqttSubscriber(const MosquittoBroker& broker, QStringList topicFilters,
        QString clientId = QStringLiteral("decimora-test-subscriber"));
    ~MqttSubscriber();

    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // More arguments for mosquitto_sub (a login, TLS files); before start().
    void addArguments(const QStringList& arguments) { extraArguments_ += arguments; }

    // Starts mosquitto_sub and returns once its subscription holds (ten seconds at most).
    bool start();
    void stop();

    // The messages received so far, in the order they arrived; with a topic, only those on it.
    QList<MqttMessage> messages();
    QList<MqttMessage> messages(const QString& topic);
    // Waits, processing the application's events, until `count` messages on `topic` have arrived.
    // False, with what arrived in error(), after the time-out.
    bool waitForMessages(const QString& topic, int count, std::chrono::milliseconds timeout = std::chrono::seconds(15));
    QString error() const { return error_; }

private:
    void readOutput();

    const MosquittoBroker& broker_;
    QStringList topicFilters_;
    QString clientId_;
    QStringList extraArguments_;
    std::unique_ptr<QProcess> process_;
    QByteArray pending_;
    QList<MqttMessage> received_;
    bool subscribed_ = false;
    QString error_;
};
