#include "support/ScratchMount.h"

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

} // namespace netsonde::test
