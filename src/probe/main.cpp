#include "probe/ProbeMain.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netsonde-probe"));
    return probe::RunProbe(QCoreApplication::arguments());
}
