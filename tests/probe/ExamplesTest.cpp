// The example Grafana dashboard: every query of every panel and variable is
// PromQL that Prometheus reads, once Grafana's variables are filled in.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Grafana's variables as a scrape would fill them.
QString filled(QString expr) {
    expr.replace(QStringLiteral("$__rate_interval"), QStringLiteral("1m"));
    expr.replace(QStringLiteral("$__range"), QStringLiteral("1h"));
    return expr.replace(QRegularExpression(QStringLiteral("\\$[a-z_]+")), QStringLiteral("x"));
}

} // namespace

TEST(Examples, EveryDashboardQueryIsPromQL) {
    if (QString(QStringLiteral(PROMTOOL)).isEmpty())
        GTEST_SKIP() << "promtool is not installed";
    QFile file(QStringLiteral(EXAMPLES_DIR "/grafana-dashboard.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject dashboard = QJsonDocument::fromJson(file.readAll()).object();
    ASSERT_FALSE(dashboard.isEmpty());
    QStringList exprs;
    for (const QJsonValue& panel : dashboard[QStringLiteral("panels")].toArray())
        for (const QJsonValue& target : panel[QStringLiteral("targets")].toArray())
            exprs << target[QStringLiteral("expr")].toString();
    // label_values(SELECTOR, label) asks for the selector's series.
    static const QRegularExpression labelValues(
        QStringLiteral("^label_values\\((.*), *[a-z_]+\\)$"));
    for (const QJsonValue& variable :
         dashboard[QStringLiteral("templating")][QStringLiteral("list")].toArray()) {
        auto match = labelValues.match(variable[QStringLiteral("query")].toString());
        if (match.hasMatch())
            exprs << match.captured(1);
    }
    ASSERT_GE(exprs.size(), 12);
    QTemporaryDir dir;
    QFile rules(dir.filePath(QStringLiteral("rules.yml")));
    ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
    rules.write("groups:\n  - name: dashboard\n    rules:\n");
    for (int i = 0; i < exprs.size(); ++i) {
        ASSERT_FALSE(exprs[i].isEmpty());
        const QByteArray quoted =
            QJsonDocument(QJsonArray{filled(exprs[i])}).toJson(QJsonDocument::Compact);
        rules.write("      - record: dashboard:q" + QByteArray::number(i) +
                    "\n        expr: " + quoted.mid(1, quoted.size() - 2) + "\n");
    }
    rules.close();
    QProcess promtool;
    promtool.start(QStringLiteral(PROMTOOL),
                   {QStringLiteral("check"), QStringLiteral("rules"), rules.fileName()});
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0)
        << (promtool.readAllStandardOutput() + promtool.readAllStandardError()).toStdString();
}
