#pragma once

#include <QObject>
#include <QString>

namespace history {

class THistoryStore;

// The memory of the window's runs: owns the store that the records of ended
// runs go to (the window connects its run recorder to Store()->Record). A
// store that fails shows its message once and records no more.
class THistory : public QObject {
    Q_OBJECT
public:
    explicit THistory(const QString& path, QObject* owner = nullptr);
    ~THistory() override;

    THistoryStore* Store() const { return FStore; }
    const QString& Path() const;

private:
    void StoreFailed(const QString& message);

    THistoryStore* FStore;
};

} // namespace history
