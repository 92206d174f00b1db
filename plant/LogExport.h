#pragma once
#include <QDate>
#include <QObject>
#include <QString>

class WeighingLog;

// The history window's export of the weighing log: one month of it to
// data/weighings_yyyymm.csv. It runs off the caller's thread, so that a log server that is
// slow or away never holds up the weighing; one export at a time.
class LogExport : public QObject {
    Q_OBJECT
public:
    // `odbc` blank: the embedded log. `log` (may be null) is asked to try its waiting events
    // at once before an export; those it still cannot write are counted in the result.
    LogExport(QString workDir, QString odbc, WeighingLog* log);

    // The month of a month file chosen in the history window, or the month of `today` when
    // none is chosen or the name is not a month file's; the first day of it.
    static QDate monthOf(const QString& chosenFile, const QDate& today);
    // The export's file for `month`, under the working folder.
    QString fileOf(const QDate& month) const;

    bool running() const { return m_running; }
    // Starts the export of `month` and returns what to show while it runs; empty, and
    // nothing started, while an export runs.
    QString start(const QDate& month);

signals:
    // The result of the export, as the status line says it.
    void finished(const QString& text);

private:
    QString m_workDir, m_odbc;
    WeighingLog* m_log;
    bool m_running = false;
};
