#include "support/ScratchMount.h"

#include <QFile>

#include <sys/mount.h>
#include <unistd.h>

namespace netsonde::test {

ScratchMount::ScratchMount(const QString& folder, int sizeKiB) : folder(folder), sizeKiB(sizeKiB) {
    if (geteuid() != 0)
        return;
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k,mode=0755";
    mounted = ::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                      options.constData()) == 0;
}

ScratchMount::~ScratchMount() {
    if (mounted)
        ::umount2(folder.toLocal8Bit().constData(), MNT_DETACH);
}

bool ScratchMount::MakeReadOnly() {
    if (!mounted)
        return false;
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k,mode=0755";
    return ::mount("tmpfs", folder.toLocal8Bit().constData(), "tmpfs",
                   MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, options.constData()) == 0;
}

bool ScratchMount::FillUp() {
    QFile filler(folder + QStringLiteral("/filler"));
    if (!mounted || !filler.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    return true;
}

} // namespace netsonde::test
