#include "mqtt/MqttBrokerAddress.h"
#include "core/DecimoraError.h"
#include "mqtt/MqttPublisher.h"

#include <gtest/gtest.h>

namespace {

TEST(MqttBrokerAddress, ReadsEveryForm)
{
    struct Case {
        const char* text;
        const char* host;
        std::uint16_t port;
        const char* written;
    };
    const Case cases[] = {
        { "meter-pc", "meter-pc", 1883, "meter-pc:1883" },
        { "10.0.0.5:8883", "10.0.0.5", 8883, "10.0.0.5:8883" },
        { "broker.local:1", "broker.local", 1, "broker.local:1" },
        { "broker.local:65535", "broker.local", 65535, "broker.local:65535" },
        { "[::1]:1884", "::1", 1884, "[::1]:1884" },
        { "[fe80::1%eth0]", "fe80::1%eth0", 1883, "[fe80::1%eth0]:1883" },
    };
    for (const Case& c : cases) {
        const MqttBrokerAddress address = ParseMqttBrokerAddress(QString::fromLatin1(c.text));
        EXPECT_EQ(address.host, QLatin1String(c.host)) << c.text;
        EXPECT_EQ(address.port, c.port) << c.text;
        EXPECT_EQ(MqttBrokerAddressText(address), QLatin1String(c.written)) << c.text;
    }
}

TEST(MqttBrokerAddress, TakesTheDefaultPortOnlyWhenNoneIsGiven)
{
    EXPECT_EQ(ParseMqttBrokerAddress(QStringLiteral("broker"), DefaultMqttTlsPort).port, 8883);
    EXPECT_EQ(ParseMqttBrokerAddress(QStringLiteral("[::1]"), DefaultMqttTlsPort).port, 8883);
    EXPECT_EQ(ParseMqttBrokerAddress(QStringLiteral("broker:1883"), DefaultMqttTlsPort).port, 1883);
}

// A password in the address would end up in the error output and in a service's journal: the
// message points to the login options and quotes only what follows the "@".
TEST(MqttBrokerAddress, RefusesALoginInTheAddressWithoutQuotingIt)
{
    for (const char* text : { "meter:s3cret@broker", "meter:s3cret@broker:1883", "mqtt://meter:s3cret@[::1]:1883" }) {
        try {
            ParseMqttBrokerAddress(QString::fromLatin1(text));
            ADD_FAILURE() << "accepted " << text;
        } catch (const DecimoraError& error) {
            EXPECT_TRUE(error.text().contains(QLatin1String("--mqtt-user"))) << error.text().toStdString();
            EXPECT_FALSE(error.text().contains(QLatin1String("s3cret"))) << error.text().toStdString();
        }
    }
}

TEST(MqttBrokerAddress, RefusesWithAMessageThatSaysWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        { "", "No MQTT broker given" },
        { "   ", "No MQTT broker given" },
        { "meter-pc:", "no port after the colon" },
        { "meter-pc:0", "the port 0 is outside 1 to 65535" },
        { "meter-pc:65536", "the port 65536 is outside 1 to 65535" },
        { "meter-pc:99999999999", "outside 1 to 65535" },
        { "meter-pc:mqtt", "the port \"mqtt\" is not a number" },
        { "meter-pc:+1883", "the port \"+1883\" is not a number" },
        { ":1883", "no host name" },
        { "meter pc:1883", "cannot be part of a host name" },
        { "mqtt://meter-pc", "without a scheme such as \"mqtt://\"" },
        { "mqtt://meter-pc:1883", "without a scheme" },
        { "::1:1883", "an IPv6 address goes in brackets" },
        { "[::1:1883", "no closing \"]\"" },
        { "[::1]1883", "only \":PORT\" may follow" },
        { "[]:1883", "brackets hold an IPv6 address" },
        { "[meter-pc]:1883", "brackets hold an IPv6 address" },
        { "[::1]:70000", "the port 70000 is outside 1 to 65535" },
    };
    for (const auto& [text, why] : cases) {
        try {
            ParseMqttBrokerAddress(QString::fromLatin1(text));
            ADD_FAILURE() << "accepted " << text;
        } catch (const DecimoraError& error) {
            EXPECT_TRUE(error.text().contains(QLatin1String(why))) << text << ": " << error.text().toStdString();
            if (QLatin1String(text).trimmed().size() > 0) {
                EXPECT_TRUE(error.text().contains(QLatin1Char('"') + QLatin1String(text) + QLatin1Char('"')))
                    << error.text().toStdString();
            }
        }
    }
}

TEST(MqttPublisherOptions, RefusesWhatNoBrokerCouldTake)
{
    MqttPublisherOptions good;
    good.broker = ParseMqttBrokerAddress(QStringLiteral("127.0.0.1"));
    good.homeAssistantDiscovery = true;
    EXPECT_NO_THROW(CheckMqttPublisherOptions(good));

    struct Case {
        const char* what;
        void (*spoil)(MqttPublisherOptions&);
        const char* why;
    };
    const Case cases[] = {
        { "wildcard in the prefix", [](MqttPublisherOptions& o) { o.topicPrefix = QStringLiteral("home/#"); },
            "\"#\"" },
        { "plus in the prefix", [](MqttPublisherOptions& o) { o.topicPrefix = QStringLiteral("a/+/b"); }, "\"+\"" },
        { "empty prefix", [](MqttPublisherOptions& o) { o.topicPrefix.clear(); }, "topic prefix is empty" },
        { "prefix ending in a slash", [](MqttPublisherOptions& o) { o.topicPrefix = QStringLiteral("meter/"); },
            "ends with \"/\"" },
        { "wildcard in the discovery prefix",
            [](MqttPublisherOptions& o) { o.discoveryPrefix = QStringLiteral("homeassistant/#"); },
            "discovery prefix" },
        { "a slash in the device id", [](MqttPublisherOptions& o) { o.deviceId = QStringLiteral("a/b"); },
            "only letters, digits" },
        { "no room in the queue", [](MqttPublisherOptions& o) { o.queueCapacity = 0; }, "room for one reading" },
        { "a password without a user", [](MqttPublisherOptions& o) { o.login.password = QStringLiteral("x"); },
            "needs a user name" },
        { "a certificate without its key",
            [](MqttPublisherOptions& o) {
                o.tls.caFile = QStringLiteral("ca.pem");
                o.tls.certFile = QStringLiteral("client.pem");
            },
            "needs its key" },
        { "a client certificate without TLS",
            [](MqttPublisherOptions& o) {
                o.tls.certFile = QStringLiteral("client.pem");
                o.tls.keyFile = QStringLiteral("client.key");
            },
            "needs TLS" },
        { "keep-alive libmosquitto refuses", [](MqttPublisherOptions& o) { o.keepAlive = std::chrono::seconds(2); },
            "5 to 65535 seconds" },
    };
    for (const Case& c : cases) {
        MqttPublisherOptions options = good;
        c.spoil(options);
        try {
            MqttPublisher publisher(options);
            ADD_FAILURE() << "accepted " << c.what;
        } catch (const DecimoraError& error) {
            EXPECT_TRUE(error.text().contains(QLatin1String(c.why))) << c.what << ": " << error.text().toStdString();
        }
    }
}

} // namespace
