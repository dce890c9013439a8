#include "mqtt/MqttPublisher.h"

#include "core/DecimoraError.h"
#include "mqtt/HomeAssistant.h"

#include <QFile>
#include <QMetaObject>
#include <QSysInfo>

#include <mosquitto.h>

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The CONNACK return codes of MQTT 3.1.1 that refuse the login: trying again cannot change them.
constexpr int ConnackBadUserNameOrPassword = 4;
constexpr int ConnackNotAuthorised = 5;

const QByteArray Online = QByteArrayLiteral("online");
const QByteArray Offline = QByteArrayLiteral("offline");

void CheckTopicLevels(const QString& what, const QString& topic)
{
    if (topic.isEmpty())
        throw DecimoraError(QStringLiteral("The MQTT %1 is empty.").arg(what));
    for (const QChar c : topic) {
        if (c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() == 0)
            throw DecimoraError(
                QStringLiteral("The MQTT %1 \"%2\" contains \"%3\", which a topic to publish to may not hold.")
                    .arg(what, topic, c.unicode() == 0 ? QStringLiteral("\\0") : QString(c)));
    }
    if (topic.endsWith(QLatin1Char('/')))
        throw DecimoraError(QStringLiteral("The MQTT %1 \"%2\" ends with \"/\".").arg(what, topic));
}

bool IsIdCharacter(QChar c)
{
    return (c.unicode() < 128 && c.isLetterOrNumber()) || c == QLatin1Char('_') || c == QLatin1Char('-');
}

QString RemainingText(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

void CheckMqttPublisherOptions(const MqttPublisherOptions& options)
{
    if (options.broker.host.isEmpty() || options.broker.port == 0)
        throw DecimoraError(QStringLiteral("No MQTT broker given."));
    CheckTopicLevels(QStringLiteral("topic prefix"), options.topicPrefix);
    if (options.homeAssistantDiscovery)
        CheckTopicLevels(QStringLiteral("discovery prefix"), options.discoveryPrefix);
    if (!options.deviceId.isEmpty() && !std::all_of(options.deviceId.begin(), options.deviceId.end(), IsIdCharacter))
        throw DecimoraError(QStringLiteral("The device id \"%1\" may hold only letters, digits, \"_\" and \"-\".")
                                .arg(options.deviceId));
    if (options.login.user.isEmpty() && !options.login.password.isEmpty())
        throw DecimoraError(QStringLiteral("An MQTT password needs a user name."));
    if (options.tls.certFile.isEmpty() != options.tls.keyFile.isEmpty())
        throw DecimoraError(QStringLiteral("An MQTT client certificate needs its key, and a key its certificate."));
    if (!options.tls.certFile.isEmpty() && options.tls.caFile.isEmpty())
        throw DecimoraError(QStringLiteral("An MQTT client certificate needs TLS, that is a CA file."));
    if (options.queueCapacity < 1 || options.inFlightLimit < 1)
        throw DecimoraError(QStringLiteral("The MQTT queue and the readings in flight need room for one reading."));
    if (options.reconnectDelay.count() < 1 || options.reconnectDelayMax < options.reconnectDelay
        || options.connectTimeout.count() < 1)
        throw DecimoraError(QStringLiteral("The MQTT reconnect delays and the connect time-out must be positive, "
                                           "the longest delay no shorter than the first."));
    // libmosquitto refuses a keep-alive under five seconds.
    if (options.keepAlive.count() < 5 || options.keepAlive.count() > 65535)
        throw DecimoraError(QStringLiteral("The MQTT keep-alive must be 5 to 65535 seconds."));
}

QString MqttStateTopic(const MqttPublisherOptions& options)
{
    return options.topicPrefix + QStringLiteral("/state");
}

QString MqttAvailabilityTopic(const MqttPublisherOptions& options)
{
    return options.topicPrefix + QStringLiteral("/availability");
}

QString MqttDeviceId(const MqttPublisherOptions& options)
{
    if (!options.deviceId.isEmpty())
        return options.deviceId;
    const auto idText = [](QString text) {
        for (QChar& c : text) {
            if (!IsIdCharacter(c))
                c = QLatin1Char('_');
        }
        return text;
    };
    const QString host = idText(QSysInfo::machineHostName().toLower());
    QString id = QStringLiteral("decimora_") + (host.isEmpty() ? QStringLiteral("meter") : host);
    // The default topic keeps the id it always had, so that an existing sensor stays the same.
    if (options.topicPrefix != MqttPublisherOptions().topicPrefix)
        id += QLatin1Char('_') + idText(options.topicPrefix);
    return id;
}

QString MqttDiscoveryTopic(const MqttPublisherOptions& options)
{
    return options.discoveryPrefix + QStringLiteral("/sensor/") + MqttDeviceId(options) + QStringLiteral("/config");
}

namespace {

std::array<QByteArray, HomeAssistantSensors.size()> SensorTopics(const MqttPublisherOptions& options)
{
    std::array<QByteArray, HomeAssistantSensors.size()> topics;
    for (const HomeAssistantSensor sensor : HomeAssistantSensors)
        topics[static_cast<std::size_t>(sensor)] = HomeAssistantStateTopic(options, sensor).toUtf8();
    return topics;
}

} // namespace

struct MqttPublisher::Link {
    Link(MqttPublisher* owner, MqttPublisherOptions givenOptions)
        : owner(owner)
        , options(std::move(givenOptions))
        , host(options.broker.host.toUtf8())
        , clientId(options.clientId.toUtf8())
        , stateTopic(MqttStateTopic(options).toUtf8())
        , sensorTopics(SensorTopics(options))
        , availabilityTopic(MqttAvailabilityTopic(options).toUtf8())
        , discovery(DiscoveryMessages(options))
        , brokerText(MqttBrokerAddressText(options.broker))
        , user(options.login.user.toUtf8())
        , password(options.login.password.toUtf8())
        , caFile(QFile::encodeName(options.tls.caFile))
        , certFile(QFile::encodeName(options.tls.certFile))
        , keyFile(QFile::encodeName(options.tls.keyFile))
    {
        meterPresent = options.meterPresent;
    }

    struct Message {
        QByteArray topic;
        QByteArray payload;
        int mid = 0; // the message id on the present connection; 0 while not handed to it
        bool acknowledged = false;
    };
    // One reading's messages: the state, and with discovery its weighting's and perhaps a minute's. It
    // leaves the queue when the broker has acknowledged all of them.
    struct Entry {
        std::vector<Message> messages;
    };

    // The retained discovery messages of every connection: the configs (or, to remove the sensors,
    // empty payloads), and the removal of the former single sensor.
    static std::vector<Message> DiscoveryMessages(const MqttPublisherOptions& options)
    {
        std::vector<Message> messages;
        if (!options.homeAssistantDiscovery)
            return messages;
        for (const HomeAssistantSensor sensor : HomeAssistantSensors)
            messages.push_back({ HomeAssistantConfigTopic(options, sensor).toUtf8(),
                options.removeDiscovery ? QByteArray() : HomeAssistantConfig(options, sensor) });
        messages.push_back({ MqttDiscoveryTopic(options).toUtf8(), QByteArray() });
        return messages;
    }

    MqttPublisher* const owner;
    const MqttPublisherOptions options;
    const QByteArray host;
    const QByteArray clientId;
    const QByteArray stateTopic;
    // Home Assistant's state topics, by HomeAssistantSensor: made once, not for every reading.
    const std::array<QByteArray, HomeAssistantSensors.size()> sensorTopics;
    const QByteArray availabilityTopic;
    const std::vector<Message> discovery;
    const QString brokerText;
    const QByteArray user;
    const QByteArray password;
    const QByteArray caFile;
    const QByteArray certFile;
    const QByteArray keyFile;
    int wakeFd = -1;
    std::thread thread;

    // Shared with the caller's thread.
    mutable std::mutex mutex;
    std::deque<Entry> queue;
    // The first `handed` entries are on the wire: readings go out in order and only ever leave the
    // queue, so the handed ones are always its head.
    std::size_t handed = 0;
    std::uint64_t droppedCount = 0;
    bool stopping = false;
    SteadyClock::time_point deadline;
    bool meterPresent = true;
    // The caller's own (publish() only): the minute the readings are gathered for.
    MinuteLeq minute;
    std::atomic<bool> isConnected { false };
    std::atomic<std::uint64_t> deliveredCount { 0 };
    std::atomic<bool> offlineDelivered { false };

    // The link thread's own. libmosquitto calls the callbacks on this thread, inside its loop functions,
    // so they only note what happened.
    mosquitto* client = nullptr;
    int connackResult = -1;
    bool sessionOver = false;
    int disconnectResult = MOSQ_ERR_SUCCESS;
    std::vector<int> acknowledged;
    int offlineMid = 0;
    bool offlineAcknowledged = false;
    // The availability published on the present connection: 1 online, 0 offline, -1 none yet.
    int availabilityPublished = -1;
    bool toldConnected = false;
    QString toldReason;
    // The broker refused the login: no more attempts.
    bool loginRefused = false;
    // libmosquitto's first error message of the present connection; a TLS failure says why only there.
    QString firstLoggedError;

    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    void drainWake() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wakeFd, &count, sizeof count);
    }

    bool stopRequested() const
    {
        std::lock_guard lock(mutex);
        return stopping;
    }

    // Milliseconds to wait at most: `wanted`, cut short by the end of a stop's flush.
    int waitMilliseconds(milliseconds wanted) const
    {
        std::lock_guard lock(mutex);
        if (stopping) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now());
            wanted = std::min(wanted, std::max(left, milliseconds(0)));
        }
        return static_cast<int>(wanted.count());
    }

    bool flushOver() const
    {
        std::lock_guard lock(mutex);
        return stopping && (queue.empty() || SteadyClock::now() >= deadline);
    }

    void tell(bool connected, const QString& reason)
    {
        if (connected == toldConnected && (connected || reason == toldReason))
            return;
        toldConnected = connected;
        toldReason = reason;
        QMetaObject::invokeMethod(
            owner, [owner = owner, connected, reason] { emit owner->connectionChanged(connected, reason); },
            Qt::QueuedConnection);
    }

    void run()
    {
        milliseconds delay = options.reconnectDelay;
        while (!flushOver()) {
            if (session())
                delay = options.reconnectDelay;
            if (flushOver() || loginRefused)
                break;
            // Wait before the next attempt; new readings wake the thread but do not end the wait.
            const auto until = SteadyClock::now() + delay;
            for (;;) {
                const auto left = std::chrono::duration_cast<milliseconds>(until - SteadyClock::now());
                const int wait = waitMilliseconds(left);
                if (wait <= 0)
                    break;
                pollfd wakeOnly { wakeFd, POLLIN, 0 };
                if (::poll(&wakeOnly, 1, wait) > 0)
                    drainWake();
                if (flushOver())
                    return;
            }
            delay = std::min(delay * 2, options.reconnectDelayMax);
        }
    }

    enum class Reach { Reachable, Unreachable, GaveUp };

    // libmosquitto's connect waits for the TCP handshake as long as the system lets it (minutes, for a
    // host that drops the packets), and a stop could not interrupt it. So the broker is first reached
    // here, within the connect time-out and a stop's deadline; libmosquitto's own connect then finds it
    // at once.
    Reach reachBroker(QString& why)
    {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int looked
            = ::getaddrinfo(host.constData(), QByteArray::number(options.broker.port).constData(), &hints, &found);
        if (looked != 0) {
            why = QStringLiteral("cannot find the MQTT broker %1: %2")
                      .arg(brokerText, QString::fromLocal8Bit(::gai_strerror(looked)));
            return Reach::Unreachable;
        }
        Reach reach = Reach::Unreachable;
        int lastError = ETIMEDOUT;
        for (addrinfo* a = found; a && reach == Reach::Unreachable; a = a->ai_next) {
            const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (s < 0) {
                lastError = errno;
                continue;
            }
            if (::connect(s, a->ai_addr, a->ai_addrlen) == 0) {
                reach = Reach::Reachable;
            } else if (errno != EINPROGRESS) {
                lastError = errno;
            } else {
                const auto until = SteadyClock::now() + options.connectTimeout;
                lastError = ETIMEDOUT;
                for (;;) {
                    const int wait
                        = waitMilliseconds(std::chrono::duration_cast<milliseconds>(until - SteadyClock::now()));
                    if (wait <= 0) {
                        if (flushOver())
                            reach = Reach::GaveUp;
                        break;
                    }
                    pollfd fds[2] = { { s, POLLOUT, 0 }, { wakeFd, POLLIN, 0 } };
                    if (::poll(fds, 2, wait) < 0 && errno != EINTR)
                        break;
                    if (fds[1].revents & POLLIN)
                        drainWake();
                    if (fds[0].revents) {
                        int error = 0;
                        socklen_t length = sizeof error;
                        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
                        if (error == 0)
                            reach = Reach::Reachable;
                        else
                            lastError = error;
                        break;
                    }
                }
            }
            ::close(s);
        }
        ::freeaddrinfo(found);
        if (reach == Reach::Unreachable)
            why = QStringLiteral("cannot reach the MQTT broker %1: %2")
                      .arg(brokerText, QString::fromLocal8Bit(std::strerror(lastError)));
        return reach;
    }

    static void OnConnect(mosquitto*, void* self, int result) { static_cast<Link*>(self)->connackResult = result; }

    static void OnDisconnect(mosquitto*, void* self, int result)
    {
        auto* link = static_cast<Link*>(self);
        link->sessionOver = true;
        link->disconnectResult = result;
    }

    static void OnPublish(mosquitto*, void* self, int mid) { static_cast<Link*>(self)->acknowledged.push_back(mid); }

    static void OnLog(mosquitto*, void* self, int level, const char* text)
    {
        auto* link = static_cast<Link*>(self);
        if (level == MOSQ_LOG_ERR && link->firstLoggedError.isEmpty())
            link->firstLoggedError = QString::fromUtf8(text);
    }

    // The login and TLS of a new client; an empty text when they are set.
    QString secure()
    {
        int rc = MOSQ_ERR_SUCCESS;
        if (!user.isEmpty())
            rc = mosquitto_username_pw_set(client, user.constData(), password.constData());
        if (rc == MOSQ_ERR_SUCCESS && !caFile.isEmpty())
            rc = mosquitto_tls_set(client, caFile.constData(), nullptr,
                certFile.isEmpty() ? nullptr : certFile.constData(), keyFile.isEmpty() ? nullptr : keyFile.constData(),
                nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            return {};
        // mosquitto_tls_set checks that the files can be read.
        return QStringLiteral("cannot set up the login or TLS for the MQTT broker %1: %2 (are the CA, certificate "
                              "and key files readable?)")
            .arg(brokerText, RemainingText(rc));
    }

    // Why a connection that the broker did not refuse ended, from libmosquitto's error code.
    QString endText(int rc, bool accepted) const
    {
        if (rc == MOSQ_ERR_TLS)
            return QStringLiteral("no TLS connection with the MQTT broker %1: %2")
                .arg(brokerText, firstLoggedError.isEmpty() ? RemainingText(rc) : firstLoggedError);
        // A TLS listener closes a plain connection at its first bytes, before any answer.
        if (!accepted && caFile.isEmpty() && (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_SUCCESS))
            return QStringLiteral("the MQTT broker %1 closed the connection without an answer (does it want TLS?)")
                .arg(brokerText);
        return QStringLiteral("lost the connection to the MQTT broker %1: %2").arg(brokerText, RemainingText(rc));
    }

    // The broker's answer to the login, in words, when it refuses it for good; empty otherwise.
    static QString LoginRefusal(int connack)
    {
        if (connack == ConnackBadUserNameOrPassword)
            return QStringLiteral("bad user name or password");
        if (connack == ConnackNotAuthorised)
            return QStringLiteral("not authorised");
        return {};
    }

    // One connection, from the attempt to its end. True when the broker accepted it.
    bool session()
    {
        QString why;
        const Reach reach = reachBroker(why);
        if (reach != Reach::Reachable) {
            if (reach == Reach::Unreachable)
                tell(false, why);
            return false;
        }
        client = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, this);
        if (!client) {
            tell(false, QStringLiteral("cannot make an MQTT client: %1").arg(RemainingText(MOSQ_ERR_ERRNO)));
            return false;
        }
        connackResult = -1;
        firstLoggedError.clear();
        sessionOver = false;
        disconnectResult = MOSQ_ERR_SUCCESS;
        acknowledged.clear();
        offlineMid = 0;
        offlineAcknowledged = false;
        availabilityPublished = -1;
        mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_will_set(
            client, availabilityTopic.constData(), static_cast<int>(Offline.size()), Offline.constData(), 1, true);
        mosquitto_connect_callback_set(client, OnConnect);
        mosquitto_disconnect_callback_set(client, OnDisconnect);
        mosquitto_publish_callback_set(client, OnPublish);
        mosquitto_log_callback_set(client, OnLog);

        bool accepted = false;
        QString endReason = secure();
        int rc = endReason.isEmpty() ? mosquitto_connect(
                     client, host.constData(), options.broker.port, static_cast<int>(options.keepAlive.count()))
                                     : MOSQ_ERR_INVAL;
        if (rc == MOSQ_ERR_TLS)
            endReason = endText(rc, false);
        else if (rc != MOSQ_ERR_SUCCESS && endReason.isEmpty())
            endReason = QStringLiteral("cannot connect to the MQTT broker %1: %2").arg(brokerText, RemainingText(rc));
        const auto connectUntil = SteadyClock::now() + options.connectTimeout;
        bool disconnecting = false;
        bool gaveUp = false; // a stop's time ran out before the broker answered
        SteadyClock::time_point disconnectUntil;
        while (rc == MOSQ_ERR_SUCCESS && !sessionOver) {
            if (disconnecting && SteadyClock::now() >= disconnectUntil)
                break;
            const milliseconds wanted = accepted
                ? milliseconds(1000)
                : std::max(
                    milliseconds(0), std::chrono::duration_cast<milliseconds>(connectUntil - SteadyClock::now()));
            rc = turn(std::max(waitMilliseconds(wanted), disconnecting ? 10 : 0));
            // libmosquitto answers a refusing CONNACK with an error of its own; the CONNACK says why.
            if (!accepted && connackResult > 0) {
                const QString refusal = LoginRefusal(connackResult);
                loginRefused = !refusal.isEmpty();
                endReason = loginRefused
                    ? QStringLiteral("the MQTT broker %1 refused the login: %2").arg(brokerText, refusal)
                    : QStringLiteral("the MQTT broker %1 refused the connection: %2")
                          .arg(brokerText, QString::fromUtf8(mosquitto_connack_string(connackResult)));
                break;
            }
            if (rc != MOSQ_ERR_SUCCESS || sessionOver)
                break;
            if (!accepted) {
                if (connackResult < 0) {
                    if (flushOver()) {
                        gaveUp = true;
                        break;
                    }
                    if (SteadyClock::now() >= connectUntil) {
                        endReason = QStringLiteral("the MQTT broker %1 did not answer the connection").arg(brokerText);
                        break;
                    }
                    continue;
                }
                accepted = true;
                isConnected = true;
                tell(true, QString());
                rc = announce();
                if (rc != MOSQ_ERR_SUCCESS)
                    break;
            }
            takeAcknowledgements();
            if (disconnecting)
                continue;
            rc = followMeter();
            if (rc == MOSQ_ERR_SUCCESS)
                rc = feed();
            if (rc != MOSQ_ERR_SUCCESS)
                continue;
            bool stopNow = false;
            {
                std::lock_guard lock(mutex);
                if (stopping) {
                    if (offlineMid == 0)
                        rc = mosquitto_publish(client, &offlineMid, availabilityTopic.constData(),
                            static_cast<int>(Offline.size()), Offline.constData(), 1, true);
                    stopNow = (queue.empty() && offlineAcknowledged) || SteadyClock::now() >= deadline;
                }
            }
            if (rc == MOSQ_ERR_SUCCESS && stopNow) {
                // A clean disconnect: the broker keeps the last will to itself, "offline" is already sent.
                rc = mosquitto_disconnect(client);
                disconnecting = true;
                // Only a socket that stopped taking data keeps the DISCONNECT from going out.
                disconnectUntil = SteadyClock::now() + milliseconds(500);
            }
        }
        if (rc != MOSQ_ERR_SUCCESS && endReason.isEmpty())
            endReason = endText(rc, accepted);
        else if (sessionOver && !disconnecting && endReason.isEmpty())
            endReason = endText(disconnectResult == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : disconnectResult, accepted);
        isConnected = false;
        {
            std::lock_guard lock(mutex);
            for (Entry& e : queue)
                for (Message& m : e.messages)
                    m.mid = 0;
            handed = 0;
        }
        mosquitto_destroy(client);
        client = nullptr;
        if (loginRefused)
            QMetaObject::invokeMethod(
                owner, [owner = owner, endReason] { emit owner->loginRefused(endReason); }, Qt::QueuedConnection);
        else if (disconnecting)
            tell(false, QStringLiteral("disconnected from the MQTT broker %1").arg(brokerText));
        else if (!gaveUp)
            tell(false, endReason);
        return accepted;
    }

    // One turn of the connection: wait for the socket or a wake-up, read, write, keep alive.
    int turn(int waitMs)
    {
        const int socket = mosquitto_socket(client);
        if (socket < 0)
            return MOSQ_ERR_NO_CONN;
        pollfd fds[2] = { { socket, static_cast<short>(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0)), 0 },
            { wakeFd, POLLIN, 0 } };
        if (::poll(fds, 2, waitMs) < 0 && errno != EINTR)
            return MOSQ_ERR_ERRNO;
        if (fds[1].revents & POLLIN)
            drainWake();
        int rc = MOSQ_ERR_SUCCESS;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            rc = mosquitto_loop_read(client, 1);
        if (rc == MOSQ_ERR_SUCCESS && (fds[0].revents & POLLOUT))
            rc = mosquitto_loop_write(client, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop_misc(client);
        return rc;
    }

    // Whatever a listener should know before the readings: the discovery config and "online", both
    // retained so that a listener that comes later still gets them. During a stop it is "offline".
    int announce()
    {
        for (const Message& m : discovery) {
            const int rc = mosquitto_publish(client, nullptr, m.topic.constData(), static_cast<int>(m.payload.size()),
                m.payload.constData(), 1, true);
            if (rc != MOSQ_ERR_SUCCESS)
                return rc;
        }
        std::lock_guard lock(mutex);
        if (stopping)
            return mosquitto_publish(client, &offlineMid, availabilityTopic.constData(),
                static_cast<int>(Offline.size()), Offline.constData(), 1, true);
        return publishAvailability(meterPresent);
    }

    // Called with the lock held.
    int publishAvailability(bool online)
    {
        const QByteArray& payload = online ? Online : Offline;
        availabilityPublished = online ? 1 : 0;
        return mosquitto_publish(client, nullptr, availabilityTopic.constData(), static_cast<int>(payload.size()),
            payload.constData(), 1, true);
    }

    // The meter came or went since the availability was published: publish it again.
    int followMeter()
    {
        std::lock_guard lock(mutex);
        if (stopping || availabilityPublished == (meterPresent ? 1 : 0))
            return MOSQ_ERR_SUCCESS;
        return publishAvailability(meterPresent);
    }

    void takeAcknowledgements()
    {
        if (acknowledged.empty())
            return;
        std::lock_guard lock(mutex);
        for (const int mid : acknowledged) {
            if (mid == offlineMid) {
                offlineAcknowledged = true;
                offlineDelivered = true;
                continue;
            }
            const auto end = queue.begin() + static_cast<std::ptrdiff_t>(handed);
            for (auto entry = queue.begin(); entry != end; ++entry) {
                auto& messages = entry->messages;
                const auto m
                    = std::find_if(messages.begin(), messages.end(), [mid](const Message& m) { return m.mid == mid; });
                if (m == messages.end())
                    continue;
                m->acknowledged = true;
                if (std::all_of(messages.begin(), messages.end(), [](const Message& m) { return m.acknowledged; })) {
                    queue.erase(entry);
                    --handed;
                    ++deliveredCount;
                }
                break;
            }
        }
        acknowledged.clear();
    }

    int feed()
    {
        std::lock_guard lock(mutex);
        const auto limit = static_cast<std::size_t>(options.inFlightLimit);
        while (handed < queue.size() && handed < limit) {
            for (Message& m : queue[handed].messages) {
                // What the broker acknowledged on an earlier connection is not sent again.
                if (m.acknowledged || m.mid != 0)
                    continue;
                const int rc = mosquitto_publish(client, &m.mid, m.topic.constData(),
                    static_cast<int>(m.payload.size()), m.payload.constData(), 1, false);
                if (rc != MOSQ_ERR_SUCCESS) {
                    m.mid = 0;
                    return rc;
                }
            }
            ++handed;
        }
        return MOSQ_ERR_SUCCESS;
    }
};

MqttPublisher::MqttPublisher(MqttPublisherOptions options, QObject* parent)
    : QObject(parent)
{
    CheckMqttPublisherOptions(options);
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    link_ = std::make_unique<Link>(this, std::move(options));
    link_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link_->wakeFd < 0)
        throw DecimoraError(
            QStringLiteral("Cannot start the MQTT link: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    link_->thread = std::thread([link = link_.get()] { link->run(); });
}

MqttPublisher::~MqttPublisher()
{
    stop(milliseconds(0));
    ::close(link_->wakeFd);
}

void MqttPublisher::publish(const LiveReading& reading)
{
    Link::Entry entry;
    const MqttPublisherOptions& options = link_->options;
    const auto sensorTopic
        = [&](HomeAssistantSensor sensor) { return link_->sensorTopics[static_cast<std::size_t>(sensor)]; };
    if (options.homeAssistantDiscovery) {
        if (const std::optional<MinuteLevel> minute = link_->minute.take(reading))
            entry.messages.push_back({ sensorTopic(HomeAssistantSensor::MinuteLAeq), MinuteLevelJson(*minute) });
    }
    const QByteArray line = LiveReadingJson(reading);
    entry.messages.push_back({ link_->stateTopic, line });
    if (options.homeAssistantDiscovery)
        entry.messages.push_back({ sensorTopic(WeightingSensor(reading)), WeightedReadingJson(reading, line) });
    quint64 droppedTotal = 0;
    bool room = true;
    {
        std::lock_guard lock(link_->mutex);
        if (link_->stopping)
            return;
        auto& queue = link_->queue;
        if (queue.size() >= link_->options.queueCapacity) {
            droppedTotal = ++link_->droppedCount;
            // The oldest reading not on the wire makes room; when every one is on the wire, this one
            // has none.
            if (link_->handed < queue.size())
                queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(link_->handed));
            else
                room = false;
        }
        if (room)
            queue.push_back(std::move(entry));
    }
    link_->wake();
    if (droppedTotal != 0)
        emit readingsDropped(droppedTotal);
}

std::size_t MqttPublisher::stop(std::chrono::milliseconds flushFor)
{
    {
        std::lock_guard lock(link_->mutex);
        if (!link_->stopping) {
            link_->stopping = true;
            link_->deadline = SteadyClock::now() + flushFor;
        }
    }
    link_->wake();
    if (link_->thread.joinable())
        link_->thread.join();
    return queued();
}

void MqttPublisher::setMeterPresent(bool present)
{
    {
        std::lock_guard lock(link_->mutex);
        link_->meterPresent = present;
    }
    link_->wake();
}

bool MqttPublisher::stoppedCleanly() const
{
    return link_->offlineDelivered;
}

bool MqttPublisher::connected() const
{
    return link_->isConnected;
}

std::size_t MqttPublisher::queued() const
{
    std::lock_guard lock(link_->mutex);
    return link_->queue.size();
}

std::uint64_t MqttPublisher::delivered() const
{
    return link_->deliveredCount;
}

std::uint64_t MqttPublisher::dropped() const
{
    std::lock_guard lock(link_->mutex);
    return link_->droppedCount;
}

const MqttPublisherOptions& MqttPublisher::options() const
{
    return link_->options;
}
