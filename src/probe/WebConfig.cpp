#include "probe/WebConfig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>

#include <crypt.h>

namespace probe {

namespace {

constexpr qint64 MaxFileBytes = 1 << 20;
constexpr std::size_t MaxRemembered = 64;

// A scalar as YAML writes it: plain, or in single or double quotes.
QByteArray scalar(QByteArray value) {
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    if (qsizetype hash = value.indexOf(" #"); hash >= 0)
        value.truncate(hash);
    return value.trimmed();
}

bool readFile(const QString& path, QByteArray& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bytes = file.read(MaxFileBytes + 1);
    if (bytes.size() > MaxFileBytes) {
        error = QStringLiteral("%1: larger than 1 MiB").arg(path);
        return false;
    }
    return true;
}

// Compares without stopping at the first difference.
bool sameBytes(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool loadTls(const std::map<QByteArray, QByteArray>& tls, const QString& folder, WebConfig& config,
             QString& error) {
    auto file = [&](const char* key) {
        const QString name = QString::fromUtf8(tls.at(key));
        return QDir(folder).filePath(name);
    };
    if (!tls.count("cert_file") || !tls.count("key_file")) {
        error = QStringLiteral("tls_server_config needs cert_file and key_file");
        return false;
    }
    QByteArray certBytes, keyBytes;
    if (!readFile(file("cert_file"), certBytes, error) ||
        !readFile(file("key_file"), keyBytes, error))
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certBytes, QSsl::Pem);
    if (chain.isEmpty()) {
        error = QStringLiteral("%1: no PEM certificate").arg(file("cert_file"));
        return false;
    }
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(keyBytes, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        error = QStringLiteral("%1: no unencrypted PEM private key").arg(file("key_file"));
        return false;
    }
    config.ssl = QSslConfiguration::defaultConfiguration();
    config.ssl.setLocalCertificateChain(chain);
    config.ssl.setPrivateKey(key);
    config.ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    config.ssl.setProtocol(QSsl::TlsV1_2OrLater);
    if (tls.count("min_version")) {
        const QByteArray v = tls.at("min_version");
        if (v == "TLS13")
            config.ssl.setProtocol(QSsl::TlsV1_3OrLater);
        else if (v != "TLS12") {
            error = QStringLiteral("min_version %1 is not taken: TLS12 or TLS13")
                        .arg(QString::fromUtf8(v));
            return false;
        }
    }
    config.tls = true;
    return true;
}

} // namespace

bool WebConfig::Admits(const QByteArray& authorization) const {
    if (!authorization.startsWith("Basic "))
        return false;
    const QByteArray digest = QCryptographicHash::hash(authorization, QCryptographicHash::Sha256);
    {
        std::lock_guard lock(FMutex);
        if (FGood.count(digest))
            return true;
    }
    const QByteArray pair = QByteArray::fromBase64(authorization.mid(6).trimmed());
    const qsizetype colon = pair.indexOf(':');
    if (colon < 0)
        return false;
    auto user = users.find(pair.left(colon));
    if (user == users.end())
        return false;
    crypt_data data{};
    const char* hashed =
        ::crypt_r(pair.mid(colon + 1).constData(), user->second.constData(), &data);
    if (hashed == nullptr || hashed[0] == '*' || !sameBytes(QByteArray(hashed), user->second))
        return false;
    std::lock_guard lock(FMutex);
    if (FGood.size() >= MaxRemembered)
        FGood.clear();
    FGood.insert(digest);
    return true;
}

bool LoadWebConfig(const QString& path, WebConfig& config, QString& error) {
    QByteArray text;
    if (!readFile(path, text, error))
        return false;
    QString why;
    if (!ParseWebConfig(text, QFileInfo(path).absolutePath(), config, why)) {
        error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool ParseWebConfig(const QByteArray& text, const QString& folder, WebConfig& config,
                    QString& error) {
    std::map<QByteArray, QByteArray> tls;
    QByteArray section;
    int number = 0;
    for (const QByteArray& raw : text.split('\n')) {
        ++number;
        QByteArray line = raw;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith('#'))
            continue;
        const bool indented = line.startsWith(' ') || line.startsWith('\t');
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            error = QStringLiteral("line %1: expected \"key: value\"").arg(number);
            return false;
        }
        const QByteArray key = scalar(line.left(colon));
        const QByteArray value = scalar(line.mid(colon + 1));
        if (!indented) {
            if (!value.isEmpty() && value != "{}" && value != "null") {
                error = QStringLiteral("line %1: %2 takes indented lines")
                            .arg(number)
                            .arg(QString::fromUtf8(key));
                return false;
            }
            if (key != "tls_server_config" && key != "basic_auth_users" &&
                key != "http_server_config") {
                error = QStringLiteral("line %1: %2 is not taken here (tls_server_config and "
                                       "basic_auth_users are)")
                            .arg(number)
                            .arg(QString::fromUtf8(key));
                return false;
            }
            section = key;
            continue;
        }
        if (section.isEmpty()) {
            error = QStringLiteral("line %1: indented line outside a section").arg(number);
            return false;
        }
        if (section == "basic_auth_users") {
            if (!value.startsWith("$2")) {
                error = QStringLiteral("line %1: the password of %2 must be a bcrypt hash")
                            .arg(number)
                            .arg(QString::fromUtf8(key));
                return false;
            }
            config.users[key] = value;
        } else if (section == "tls_server_config") {
            static const std::set<QByteArray> known = {"cert_file", "key_file", "min_version",
                                                       "client_auth_type"};
            if (!known.count(key)) {
                error = QStringLiteral("line %1: tls_server_config: %2 is not supported")
                            .arg(number)
                            .arg(QString::fromUtf8(key));
                return false;
            }
            if (key == "client_auth_type" && value != "NoClientCert" && !value.isEmpty()) {
                error =
                    QStringLiteral("line %1: client certificates are not supported").arg(number);
                return false;
            }
            tls[key] = value;
        } else {
            error = QStringLiteral("line %1: http_server_config: %2 is not supported")
                        .arg(number)
                        .arg(QString::fromUtf8(key));
            return false;
        }
    }
    if (!tls.empty() && !loadTls(tls, folder, config, error))
        return false;
    return true;
}

} // namespace probe
