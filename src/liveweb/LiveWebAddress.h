#pragma once

// Where the live page is served: "--serve [ADDR:]PORT". Only this machine reaches the page unless an
// address is given; an address other than a loopback one makes the page reachable from the network.

#include <QHostAddress>
#include <QString>

struct LiveWebAddress {
    QHostAddress host { QHostAddress::LocalHost };
    quint16 port = 0;
};

// "8080" (127.0.0.1), "0.0.0.0:8080", "192.168.1.20:8080", "localhost:8080", "[::]:8080", "[::1]:8080".
// Throws DecimoraError saying what is wrong: no port, a port out of 1 to 65535, or an address that is
// not an IP address.
LiveWebAddress ParseLiveWebAddress(const QString& text);

// The page's address as a browser is given it: "http://127.0.0.1:8080/", "http://[::1]:8080/".
QString LiveWebUrl(const LiveWebAddress& address);
// Other machines can reach an address that is not a loopback one (0.0.0.0 and :: take every one).
bool ReachableFromNetwork(const LiveWebAddress& address);
