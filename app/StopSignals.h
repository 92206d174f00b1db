#pragma once
#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a shutdown, a logout, Ctrl+C) end the station as closing its
// main window does: the event loop quits and the station is taken down in order (the
// amount on the balance journalled, every light off, the database and log threads ended).
// The handler only writes a byte to a pipe; the quit happens on the event loop.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};
