#include "controls/KindBitmaps.h"

#include "controls/ModalResult.h"
#include "controls/ScaledImage.h"

#include <array>

namespace {

constexpr std::array<TKindInfo, KindCount> Kinds{{
    {"", mrNone, nullptr},
    {"&Ok", mrOk, "CBBOK"},
    {"&Cancelar", mrCancel, "CBBCANCEL"},
    {"&Ayuda", mrNone, "CBBHELP"},
    {"&Si", mrYes, "CBBYES"},
    {"&No", mrNo, "CBBNO"},
    {"&Cerrar", mrNone, "CBBCLOSE"},
    {"&Abortar", mrAbort, "CBBABORT"},
    {"&Reintentar", mrRetry, "CBBRETRY"},
    {"&Ignorar", mrIgnore, "CBBIGNORE"},
    {"&Todo", mrAll, "CBBALL"},
}};

} // namespace

const TKindInfo& KindInfo(TBitBtnKind kind) {
    const int k = static_cast<int>(kind);
    return Kinds[k >= 0 && k < KindCount ? k : 0];
}

QString KindCaption(TBitBtnKind kind) {
    return QString::fromUtf8(KindInfo(kind).Caption);
}

const QImage& GetKindBitmap(TBitBtnKind kind) {
    static std::array<QImage, KindCount> cache;
    const TKindInfo& info = KindInfo(kind);
    const int k = static_cast<int>(kind);
    if (!info.Resource || k < 0 || k >= KindCount)
        return cache[0];
    if (cache[k].isNull()) {
        cache[k] =
            LoadScaledImage(QStringLiteral(":/buttons/%1.png").arg(QLatin1String(info.Resource)));
    }
    return cache[k];
}
