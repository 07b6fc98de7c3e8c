#pragma once

#include <QByteArray>
#include <QSslConfiguration>
#include <QString>

#include <map>
#include <mutex>
#include <set>

// The endpoint's web config: TLS and the users allowed to scrape, in the
// file format that Prometheus' exporters take with --web.config.file and
// that Prometheus' own scrape configs speak:
//
//   tls_server_config:
//     cert_file: server.crt       # PEM; relative to the file's folder
//     key_file: server.key
//     min_version: TLS12          # optional: TLS12 or TLS13
//   basic_auth_users:
//     prometheus: $2y$10$...      # bcrypt hash of the password
//
// A key this endpoint does not carry out is refused by name rather than
// ignored: an operator who asked for client certificates must not get a
// server that quietly takes anybody.
namespace probe {

struct WebConfig {
    bool tls = false;
    QSslConfiguration ssl;
    std::map<QByteArray, QByteArray> users; // name: bcrypt hash

    // True when an Authorization header names one of the users with its
    // password. A header once found good is remembered (as a digest), so
    // that a scraper pays the hash's deliberate slowness once, not each
    // scrape.
    bool Admits(const QByteArray& authorization) const;

private:
    mutable std::mutex FMutex;
    mutable std::set<QByteArray> FGood;
};

// Reads a web config file; false with one line for the operator.
bool LoadWebConfig(const QString& path, WebConfig& config, QString& error);
// The same from text; relative files are taken from folder.
bool ParseWebConfig(const QByteArray& text, const QString& folder, WebConfig& config,
                    QString& error);

} // namespace probe
