#include "cli/MqttLoginOptions.h"

#include "cli/CliError.h"

#include <QFile>
#include <QFileInfo>

namespace {

// No broker takes a longer password (MQTT caps it at 65535 bytes); reading no further keeps a wrong
// name such as /dev/zero from filling the memory.
constexpr qint64 LongestPasswordLine = 65536;

// The file's first line, as a password file made with "echo secret > file" holds it. A pipe is read
// as well, so that --mqtt-password-file <(pass show broker) works.
QString ReadPasswordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError(QStringLiteral("Cannot read the MQTT password file %1: %2").arg(path, file.errorString()));
    QByteArray text = file.readLine(LongestPasswordLine);
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.endsWith('\r'))
        text.chop(1);
    return QString::fromUtf8(text);
}

// Why path cannot serve as a file libmosquitto reads again at every connection, or nothing when it can.
// A pipe or a device is refused before it is opened: it would block here or be empty at the next
// connection.
QString WhyNotReadable(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name given");
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return {};
}

// A certificate or key libmosquitto will read at every connection: a wrong name is told now, not as a
// connection that fails again and again.
QString ReadableFile(const ParsedCommand& command, const char* option, const QString& what)
{
    if (!command.isSet(option))
        return {};
    const QString path = command.value(option);
    if (const QString why = WhyNotReadable(path); !why.isEmpty())
        throw CliError(QStringLiteral("Cannot read the MQTT %1 %2: %3").arg(what, path, why));
    return path;
}

} // namespace

bool AnyMqttLoginOption(const ParsedCommand& command)
{
    for (const char* option : { "mqtt-user", "mqtt-password-file", "mqtt-cafile", "mqtt-cert", "mqtt-key" })
        if (command.isSet(option))
            return true;
    return false;
}

std::uint16_t DefaultMqttPortFor(const ParsedCommand& command)
{
    return command.isSet("mqtt-cafile") ? DefaultMqttTlsPort : DefaultMqttPort;
}

void ReadMqttLogin(const ParsedCommand& command, MqttPublisherOptions& options)
{
    if (command.isSet("mqtt-password-file") && !command.isSet("mqtt-user"))
        throw UsageError(QStringLiteral("--mqtt-password-file belongs to --mqtt-user."));
    if ((command.isSet("mqtt-cert") || command.isSet("mqtt-key")) && !command.isSet("mqtt-cafile"))
        throw UsageError(QStringLiteral("--mqtt-cert and --mqtt-key need TLS, that is --mqtt-cafile."));
    if (command.isSet("mqtt-cert") != command.isSet("mqtt-key"))
        throw UsageError(QStringLiteral("--mqtt-cert and --mqtt-key go together."));
    if (command.isSet("mqtt-user")) {
        options.login.user = command.value("mqtt-user");
        if (options.login.user.isEmpty())
            throw UsageError(QStringLiteral("--mqtt-user needs a name."));
        if (command.isSet("mqtt-password-file"))
            options.login.password = ReadPasswordFile(command.value("mqtt-password-file"));
        else
            options.login.password = qEnvironmentVariable(MqttPasswordVariable);
    }
    options.tls.caFile = ReadableFile(command, "mqtt-cafile", QStringLiteral("CA file"));
    options.tls.certFile = ReadableFile(command, "mqtt-cert", QStringLiteral("client certificate"));
    options.tls.keyFile = ReadableFile(command, "mqtt-key", QStringLiteral("client key"));
}
