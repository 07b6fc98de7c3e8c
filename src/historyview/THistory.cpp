#include "historyview/THistory.h"

#include "desktop/MessageBoxes.h"
#include "history/THistoryStore.h"

namespace history {

THistory::THistory(const QString& path, QObject* owner)
    : QObject(owner), FStore(new THistoryStore(path, this)) {
    connect(FStore, &THistoryStore::Failed, this, &THistory::StoreFailed);
}

THistory::~THistory() = default;

const QString& THistory::Path() const {
    return FStore->Path();
}

void THistory::StoreFailed(const QString& message) {
    platform::Messages().Error(message);
}

} // namespace history
