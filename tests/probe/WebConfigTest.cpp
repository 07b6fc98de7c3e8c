#include "probe/WebConfig.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <crypt.h>

using namespace probe;

namespace {

QByteArray Bcrypt(const char* password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    EXPECT_NE(::crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting), nullptr);
    crypt_data data{};
    return ::crypt_r(password, setting, &data);
}

QByteArray Basic(const char* pair) {
    return "Basic " + QByteArray(pair).toBase64();
}

} // namespace

// What the file may say, and the line that says what is wrong where it
// says more.
TEST(WebConfigFile, TakesUsersAndTlsAndRefusesWhatItCannotCarryOut) {
    const QByteArray hash = Bcrypt("s3cret");
    struct Case {
        QByteArray text;
        const char* error; // empty: taken
    } cases[] = {
        {"", ""},
        {"# nothing but a comment\n\nbasic_auth_users:\n  prom: " + hash + "\n", ""},
        {"basic_auth_users:\n  prom: '" + hash + "'\n", ""},
        {"basic_auth_users:\n  prom: plaintext\n", "line 2: the password of prom must be a "
                                                   "bcrypt hash"},
        {"tls_server_config:\n  cert_file: a.crt\n  client_ca_file: ca.crt\n",
         "line 3: tls_server_config: client_ca_file is not supported"},
        {"tls_server_config:\n  client_auth_type: RequireAndVerifyClientCert\n",
         "line 2: client certificates are not supported"},
        {"tls_server_config:\n  key_file: a.key\n", "tls_server_config needs cert_file and "
                                                    "key_file"},
        {"tls_config:\n  cert_file: a\n", "line 1: tls_config is not taken here "
                                          "(tls_server_config and basic_auth_users are)"},
        {"  prom: x\n", "line 1: indented line outside a section"},
        {"basic_auth_users: prom\n", "line 1: basic_auth_users takes indented lines"},
        {"http_server_config:\n  http2: false\n",
         "line 2: http_server_config: http2 is not supported"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        WebConfig config;
        QString error;
        EXPECT_EQ(ParseWebConfig(c.text, QStringLiteral("/nonexistent"), config, error),
                  QByteArray(c.error).isEmpty());
        EXPECT_EQ(error, QString::fromUtf8(c.error));
    }
}

// Only a listed user with its password gets in; a good header is
// remembered, a wrong one never.
TEST(WebConfigFile, AdmitsOnlyAUserWithItsPassword) {
    WebConfig config;
    QString error;
    ASSERT_TRUE(ParseWebConfig("basic_auth_users:\n  prom: " + Bcrypt("s3cret") +
                                   "\n  other: " + Bcrypt("x") + "\n",
                               QString(), config, error));
    EXPECT_TRUE(config.Admits(Basic("prom:s3cret")));
    EXPECT_TRUE(config.Admits(Basic("prom:s3cret")));
    for (const QByteArray& wrong :
         {Basic("prom:s3cre"), Basic("prom:s3cretX"), Basic("prom:x"), Basic("nobody:s3cret"),
          Basic("prom"), QByteArray("Bearer abc"), QByteArray(), QByteArray("Basic !!!")})
        EXPECT_FALSE(config.Admits(wrong)) << wrong.toStdString();
}

// Files that are missing or are not what they should be are named.
TEST(WebConfigFile, NamesTheTlsFileThatIsWrong) {
    QTemporaryDir dir;
    QFile bad(dir.filePath(QStringLiteral("bad.crt")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a certificate\n");
    bad.close();
    WebConfig config;
    QString error;
    EXPECT_FALSE(ParseWebConfig("tls_server_config:\n  cert_file: bad.crt\n  key_file: bad.crt\n",
                                dir.path(), config, error));
    EXPECT_EQ(error, dir.filePath(QStringLiteral("bad.crt")) + ": no PEM certificate");
    EXPECT_FALSE(ParseWebConfig("tls_server_config:\n  cert_file: gone.crt\n  key_file: k\n",
                                dir.path(), config, error));
    EXPECT_TRUE(error.startsWith(dir.filePath(QStringLiteral("gone.crt")) + ": "));
    EXPECT_FALSE(config.tls);
}
