// Loaded through QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=netsondeprobe.
// Writes to the file named by NETSONDE_PROBE_REPORT: the capability sets of
// every thread as the plugin finds them when it is loaded, whether it could
// open a packet socket, then (with NETSONDE_PROBE_CHECK set) the result pane
// of a Check One of 127.0.0.1 and the threads' sets once more, or the text
// of the start-up box (which it answers with Abort), or where driving the
// window got stuck.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void report(const QByteArray& line) {
    QFile out(QString::fromLocal8Bit(qgetenv("NETSONDE_PROBE_REPORT")));
    if (out.open(QIODevice::Append))
        out.write(line + '\n');
}

QWidget* topLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            return w;
    return nullptr;
}

// The capability sets of every thread of the process.
void reportCapabilities(const QByteArray& prefix) {
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        QByteArray sets;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Cap") || line.startsWith("NoNewPrivs"))
                sets += ' ' + line.simplified();
        report(prefix + ' ' + task.toLatin1() + sets);
    }
}

void clickLater(QAbstractButton* button) {
    QTimer::singleShot(0, button, &QAbstractButton::click);
}

// Walks the window through the Check One, one step per tick, so that the
// modal address dialog's own loop keeps it going.
class Driver : public QObject {
public:
    Driver() {
        timer.setInterval(100);
        connect(&timer, &QTimer::timeout, this, &Driver::tick);
        timer.start();
    }

private:
    void tick() {
        if (++ticks > 300) {
            report("STUCK at step " + QByteArray::number(step));
            timer.stop();
            QCoreApplication::exit(1);
            return;
        }
        // The start-up box of a process without ICMP sockets: read, then Abort.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            report("BOX " + box->text().toUtf8().replace('\n', " | "));
            timer.stop();
            clickLater(box->button(QMessageBox::Abort));
            return;
        }
        QWidget* main = topLevel("fm_ns");
        QWidget* dialog = topLevel("fm_add");
        switch (step) {
        case 0:
            if (main != nullptr && dialog == nullptr) {
                clickLater(main->findChild<QAbstractButton*>("bn_add"));
                step = 1;
            }
            break;
        case 1:
            if (dialog != nullptr) {
                dialog->findChild<QLineEdit*>("ed_add")->setText(QStringLiteral("127.0.0.1"));
                dialog->findChild<QAbstractButton*>("bn_one")->click();
                clickLater(dialog->findChild<QAbstractButton*>("bn_ok"));
                step = 2;
            }
            break;
        case 2:
            if (dialog == nullptr && main != nullptr) {
                auto* list = main->findChild<QListView*>("lb_add");
                if (list->model()->rowCount() == 0)
                    break;
                // A click of the user's, so that the window takes it as a choice.
                QPoint at = list->visualRect(list->model()->index(0, 0)).center();
                QWidget* viewport = list->viewport();
                QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at),
                                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at),
                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(viewport, &press);
                QApplication::sendEvent(viewport, &release);
                step = 3;
            }
            break;
        case 3:
            if (auto* one = main->findChild<QAbstractButton*>("bn_one"); one->isEnabled()) {
                clickLater(one);
                step = 4;
            }
            break;
        case 4: {
            QString text = main->findChild<QPlainTextEdit*>("ed_results")->toPlainText();
            if (!text.contains(QStringLiteral("Return Name:")))
                break;
            report("RESULT " + text.toUtf8().replace('\n', " | "));
            reportCapabilities("THREAD");
            timer.stop();
            main->close();
            break;
        }
        }
    }

    QTimer timer;
    int step = 0;
    int ticks = 0;
};

} // namespace

class CapabilityProbe : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe.json")
public:
    QObject* create(const QString&, const QString&) override {
        reportCapabilities("LOADED");
        int fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
        report(fd >= 0 ? QByteArray("PACKET opened")
                       : "PACKET refused " + QByteArray(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        if (qEnvironmentVariableIsSet("NETSONDE_PROBE_CHECK"))
            return new Driver;
        return new QObject;
    }
};

#include "CapabilityProbe.moc"
