#include "platform/ProbeEntry.h"

#include <gtest/gtest.h>

using platform::ParseProbeEntry;
using platform::ProbeKind;

namespace {

TEST(ProbeEntry, ReadsEveryFormOfEntry) {
    struct Case {
        const char* text;
        ProbeKind kind;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        // Plain entries stay ICMP with their whole text, IPv6 addresses too.
        {"far.nsd.test", ProbeKind::Icmp, "far.nsd.test", 0},
        {" 10.0.0.1 ", ProbeKind::Icmp, " 10.0.0.1 ", 0},
        {"fd00::1", ProbeKind::Icmp, "fd00::1", 0},
        {"fe80::1%eth0", ProbeKind::Icmp, "fe80::1%eth0", 0},
        {"[fd00::1]", ProbeKind::Icmp, "[fd00::1]", 0},
        {"", ProbeKind::Icmp, "", 0},
        {"host:443", ProbeKind::Tcp, "host", 443},
        {" host:1 ", ProbeKind::Tcp, "host", 1},
        {"10.0.0.1:65535", ProbeKind::Tcp, "10.0.0.1", 65535},
        {"host:80/tcp", ProbeKind::Tcp, "host", 80},
        {"host:53/udp", ProbeKind::Udp, "host", 53},
        {"host:53/UDP", ProbeKind::Udp, "host", 53},
        {"[fd00::1]:443", ProbeKind::Tcp, "fd00::1", 443},
        {"[fe80::1%c0]:53/udp", ProbeKind::Udp, "fe80::1%c0", 53},
        {"host:00443", ProbeKind::Tcp, "host", 443},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString error;
        const auto entry = ParseProbeEntry(QString::fromUtf8(c.text), &error);
        ASSERT_TRUE(entry.has_value()) << error.toStdString();
        EXPECT_EQ(entry->kind, c.kind);
        EXPECT_EQ(entry->host, QString::fromUtf8(c.host));
        EXPECT_EQ(entry->port, c.port);
    }
}

TEST(ProbeEntry, ABadPortIsRefusedWithAMessageThatNamesTheEntry) {
    for (const char* text : {"host:", "host:0", "host:65536", "host:99999999999", "host:-1",
                             "host:+80", "host: 80", "host:8o", "host:80/sctp", "host:80/", ":80",
                             "[fd00::1]:", "[fd00::1]x", "[]:80", "[fd00::1]:80/icmp"}) {
        SCOPED_TRACE(text);
        QString error;
        EXPECT_FALSE(ParseProbeEntry(QString::fromUtf8(text), &error).has_value());
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(text).trimmed() + QLatin1Char(':')) ||
                    error.startsWith(QString::fromUtf8(text) + QLatin1Char(':')))
            << error.toStdString();
    }
}

TEST(ProbeEntry, ReadsTheProbersTargets) {
    struct Case {
        const char* text;
        std::optional<ProbeKind> kind; // none: refused
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"far.nsd.test", ProbeKind::Icmp, "far.nsd.test", 0},
        {" fd00::1 ", ProbeKind::Icmp, "fd00::1", 0},
        // The entries of the lists name ports as the window's do.
        {" far:443 ", ProbeKind::Tcp, "far", 443},
        {"[fd00::1]:53/udp", ProbeKind::Udp, "fd00::1", 53},
        {"far:0", std::nullopt, "", 0},
        {"tcp://far:443", ProbeKind::Tcp, "far", 443},
        {"UDP://far:53", ProbeKind::Udp, "far", 53},
        {"tcp://[fd00::1]:22", ProbeKind::Tcp, "fd00::1", 22},
        {"tcp://far", std::nullopt, "", 0},
        {"udp://far:53/udp", std::nullopt, "", 0},
        {"tcp://far:0", std::nullopt, "", 0},
        {"tcp://fd00::1", std::nullopt, "", 0},
        {"udp://", std::nullopt, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString error;
        const auto entry = platform::ParseProbeTarget(QString::fromUtf8(c.text), &error);
        ASSERT_EQ(entry.has_value(), c.kind.has_value()) << error.toStdString();
        if (!entry) {
            EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.text))) << error.toStdString();
            continue;
        }
        EXPECT_EQ(entry->kind, *c.kind);
        EXPECT_EQ(entry->host, QString::fromUtf8(c.host));
        EXPECT_EQ(entry->port, c.port);
    }
    // The prober's own text of each reads back as the same target.
    for (const char* text : {"tcp://far:443", "udp://[fd00::1]:53", "far"}) {
        const auto entry = platform::ParseProbeTarget(QString::fromUtf8(text));
        ASSERT_TRUE(entry);
        EXPECT_EQ(platform::ProbeTargetText(*entry), QString::fromUtf8(text));
    }
}

TEST(ProbeEntry, ThePortPartIsShownAsItIsTyped) {
    EXPECT_EQ(platform::PortSuffix(ProbeKind::Tcp, 443), ":443");
    EXPECT_EQ(platform::PortSuffix(ProbeKind::Udp, 53), ":53/udp");
    EXPECT_EQ(platform::PortSuffix(ProbeKind::Icmp, 0), "");
}

} // namespace
