#include "support/MosquittoBroker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int StartSeconds = 10;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// The kernel's pick of a free port: bind to port 0 and read back what was given.
std::uint16_t FreeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

// Runs a program to its end; false, with what it said in error, when it fails.
bool RunTool(const QString& program, const QStringList& arguments, const QString& folder, QString& error)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (tool.waitForFinished(60000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0)
        return true;
    error = QStringLiteral("%1 %2 failed: %3 %4")
                .arg(program, arguments.join(QLatin1Char(' ')), tool.errorString(),
                    QString::fromLocal8Bit(tool.readAll()));
    return false;
}

// The password_file of the users, made as an administrator makes one.
bool WritePasswordFile(const QString& path, const MosquittoSecurity& security, QString& error)
{
    for (qsizetype i = 0; i < security.users.size(); ++i) {
        QStringList arguments { QStringLiteral("-b"), path, security.users[i].first, security.users[i].second };
        if (i == 0)
            arguments.prepend(QStringLiteral("-c"));
        if (!RunTool(QStringLiteral("mosquitto_passwd"), arguments, QString(), error))
            return false;
    }
    return true;
}

bool Accepts(std::uint16_t port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool connected = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

} // namespace

MosquittoBroker::MosquittoBroker(const MosquittoSecurity& security)
    : folder_(std::make_unique<QTemporaryDir>())
    , port_(FreeLoopbackPort())
{
    const QString passwordFile = folder_->filePath(QStringLiteral("passwords"));
    if (!security.users.isEmpty() && !WritePasswordFile(passwordFile, security, error_))
        return;
    QFile config(folder_->filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1").arg(config.fileName());
        return;
    }
    QByteArray text = "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
    if (!security.caFile.isEmpty())
        text += "cafile " + security.caFile.toUtf8() + "\ncertfile " + security.certFile.toUtf8() + "\nkeyfile "
            + security.keyFile.toUtf8() + "\nrequire_certificate " + (security.requireCertificate ? "true" : "false")
            + "\n";
    if (security.users.isEmpty())
        text += "allow_anonymous true\n";
    else
        text += "allow_anonymous false\npassword_file " + passwordFile.toUtf8() + "\n";
    text += QByteArray()
        // Sessions and queued messages survive a stop() and start(), inside the temporary folder.
        + "persistence true\n" + "persistence_location " + folder_->path().toUtf8() + "/\n" + "log_dest file "
        + folder_->filePath(QStringLiteral("mosquitto.log")).toUtf8() + "\n"
        + "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n";
    // Started by root, mosquitto would change to its own user, which cannot write the folder.
    if (::geteuid() == 0)
        text += "user root\n";
    config.write(text);
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    if (running())
        return true;
    if (port_ == 0) {
        error_ = QStringLiteral("no free loopback port");
        return false;
    }
    // The constructor could not write the configuration; error() says why.
    if (!QFile::exists(folder_->filePath(QStringLiteral("mosquitto.conf"))))
        return false;
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardOutputFile(folder_->filePath(QStringLiteral("mosquitto.out")), QIODevice::Append);
    process_->start(
        QStringLiteral("mosquitto"), { QStringLiteral("-c"), folder_->filePath(QStringLiteral("mosquitto.conf")) });
    if (!process_->waitForStarted()) {
        error_ = QStringLiteral("cannot start mosquitto (scripts/setup installs it): %1").arg(process_->errorString());
        process_.reset();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!Accepts(port_)) {
        if (process_->state() != QProcess::Running || timer.hasExpired(StartSeconds * 1000)) {
            error_ = QStringLiteral("mosquitto does not accept connections on port %1; its log:\n%2")
                         .arg(port_)
                         .arg(log());
            stop();
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

void MosquittoBroker::stop()
{
    if (!process_)
        return;
    thaw();
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(StartSeconds * 1000)) {
            process_->kill();
            process_->waitForFinished();
        }
    }
    process_.reset();
}

void MosquittoBroker::freeze()
{
    if (running() && !frozen_)
        frozen_ = ::kill(static_cast<pid_t>(process_->processId()), SIGSTOP) == 0;
}

void MosquittoBroker::thaw()
{
    if (frozen_ && process_)
        ::kill(static_cast<pid_t>(process_->processId()), SIGCONT);
    frozen_ = false;
}

void MosquittoBroker::crash()
{
    if (!process_)
        return;
    process_->kill();
    process_->waitForFinished();
    process_.reset();
    frozen_ = false;
}

qint64 MosquittoBroker::unreadBytes() const
{
    // The kernel's table of TCP sockets: "sl local rem st tx_queue:rx_queue ...", addresses and
    // queues in hexadecimal; the broker's end of a connection has the broker's port as its local one.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray localPort = ':' + QByteArray::number(port_, 16).toUpper().rightJustified(4, '0');
    qint64 unread = 0;
    table.readLine();
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() > 4 && fields[1].endsWith(localPort) && fields[3] == "01") // 01: established
            unread += fields[4].mid(fields[4].indexOf(':') + 1).toLongLong(nullptr, 16);
    }
    return unread;
}

bool MosquittoBroker::running() const
{
    return process_ && process_->state() == QProcess::Running;
}

QString MosquittoBroker::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

QString MosquittoBroker::log() const
{
    QString text;
    for (const char* name : { "mosquitto.out", "mosquitto.log" }) {
        QFile file(folder_->filePath(QString::fromLatin1(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

MqttSubscriber::MqttSubscriber(const MosquittoBroker& broker, QStringList topicFilters, QString clientId)
    : broker_(broker)
    , topicFilters_(std::move(topicFilters))
    , clientId_(std::move(clientId))
{
}

MqttSubscriber::~MqttSubscriber()
{
    stop();
}

bool MqttSubscriber::start()
{
    // -c: a persistent session; -F %j: one JSON object a line with the topic, the payload and the
    // retained flag. "$SYS/broker/version" is retained by every mosquitto: its arrival shows that the
    // subscription holds.
    QStringList arguments { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
        QString::number(broker_.port()), QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-c"),
        QStringLiteral("-i"), clientId_, QStringLiteral("-F"), QStringLiteral("%j"), QStringLiteral("-t"),
        QStringLiteral("$SYS/broker/version") };
    arguments += extraArguments_;
    for (const QString& filter : topicFilters_)
        arguments << QStringLiteral("-t") << filter;
    process_ = std::make_unique<QProcess>();
    process_->start(QStringLiteral("mosquitto_sub"), arguments);
    if (!process_->waitForStarted()) {
        error_
            = QStringLiteral("cannot start mosquitto_sub (scripts/setup installs it): %1").arg(process_->errorString());
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (!subscribed_) {
        if (process_->state() != QProcess::Running || timer.hasExpired(10000)) {
            error_ = QStringLiteral("mosquitto_sub did not subscribe: %1")
                         .arg(QString::fromUtf8(process_->readAllStandardError()));
            return false;
        }
        process_->waitForReadyRead(20);
        readOutput();
    }
    return true;
}

void MqttSubscriber::stop()
{
    if (!process_)
        return;
    readOutput();
    process_->terminate();
    if (!process_->waitForFinished(5000))
        process_->kill();
    process_->waitForFinished();
    readOutput();
    process_.reset();
}

void MqttSubscriber::readOutput()
{
    if (!process_)
        return;
    pending_ += process_->readAllStandardOutput();
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QJsonObject line = QJsonDocument::fromJson(pending_.left(end)).object();
        pending_.remove(0, end + 1);
        const QString topic = line.value(QStringLiteral("topic")).toString();
        if (topic.startsWith(QStringLiteral("$SYS/"))) {
            subscribed_ = true;
            continue;
        }
        received_.append({ topic, line.value(QStringLiteral("payload")).toString().toUtf8(),
            line.value(QStringLiteral("retain")).toInt() != 0 });
    }
}

QList<MqttMessage> MqttSubscriber::messages()
{
    readOutput();
    return received_;
}

QList<MqttMessage> MqttSubscriber::messages(const QString& topic)
{
    QList<MqttMessage> onTopic;
    for (const MqttMessage& m : messages()) {
        if (m.topic == topic)
            onTopic.append(m);
    }
    return onTopic;
}

bool MqttSubscriber::waitForMessages(const QString& topic, int count, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (messages(topic).size() < count) {
        if (!process_ || timer.hasExpired(timeout.count())) {
            QString got;
            for (const MqttMessage& m : messages())
                got += QStringLiteral("\n  %1 %2%3")
                           .arg(m.topic, QString::fromUtf8(m.payload), m.retained ? " (retained)" : "");
            error_ = QStringLiteral("%1 of %2 messages on %3 arrived; everything received:%4")
                         .arg(messages(topic).size())
                         .arg(count)
                         .arg(topic, got);
            return false;
        }
        QCoreApplication::processEvents();
        process_->waitForReadyRead(20);
    }
    return true;
}

bool MakeTestCertificates(const QString& folder, QString& error)
{
    // Elliptic-curve keys: made in a moment, where RSA keys would take seconds under the sanitizers.
    const QStringList newKey { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes") };
    const auto authority = [&](const QString& name, const QString& subject) {
        return RunTool(QStringLiteral("openssl"),
            QStringList { QStringLiteral("req"), QStringLiteral("-x509") } + newKey
                + QStringList { QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                    name + QStringLiteral(".pem"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-subj"), subject },
            folder, error);
    };
    const auto signedBy = [&](const QString& name, const QString& subject, const QString& extensions) {
        QFile file(QDir(folder).filePath(name + QStringLiteral(".ext")));
        if (!file.open(QIODevice::WriteOnly) || file.write(extensions.toUtf8() + '\n') < 0) {
            error = QStringLiteral("cannot write %1").arg(file.fileName());
            return false;
        }
        file.close();
        return RunTool(QStringLiteral("openssl"),
                   QStringList { QStringLiteral("req") } + newKey
                       + QStringList { QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                           name + QStringLiteral(".csr"), QStringLiteral("-subj"), subject },
                   folder, error)
            && RunTool(QStringLiteral("openssl"),
                { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), name + QStringLiteral(".csr"),
                    QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-extfile"), name + QStringLiteral(".ext"), QStringLiteral("-out"),
                    name + QStringLiteral(".pem") },
                folder, error);
    };
    return authority(QStringLiteral("ca"), QStringLiteral("/CN=Decimora test authority"))
        && authority(QStringLiteral("stranger-ca"), QStringLiteral("/CN=Someone else's authority"))
        && signedBy(QStringLiteral("broker"), QStringLiteral("/CN=localhost"),
            QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"))
        && signedBy(QStringLiteral("client"), QStringLiteral("/CN=decimora-meter"),
            QStringLiteral("extendedKeyUsage=clientAuth"));
}
