#include "plant/LogExport.h"

#include "common/FileOps.h"
#include "history/HistoryRecord.h"
#include "plant/LogStore.h"
#include "plant/WeighingLog.h"

#include <QDir>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

LogExport::LogExport(QString workDir, QString odbc, WeighingLog* log)
    : m_workDir(std::move(workDir)), m_odbc(std::move(odbc)), m_log(log) {}

QDate LogExport::monthOf(const QString& chosenFile, const QDate& today) {
    const QDate chosen = MonthFile::month(chosenFile);
    return chosen.isValid() ? chosen : QDate(today.year(), today.month(), 1);
}

QString LogExport::fileOf(const QDate& month) const {
    return QDir(m_workDir).filePath(
        QStringLiteral("data/weighings_%1.csv").arg(month.toString(QStringLiteral("yyyyMM"))));
}

QString LogExport::start(const QDate& month) {
    if (m_running)
        return {};
    const QDate first(month.year(), month.month(), 1);
    const QDate last = first.addMonths(1).addDays(-1);
    const QString file = fileOf(first);
    // Events waiting for the database are tried at once; those it still cannot take are
    // not in the export, and the result says how many.
    if (m_log)
        m_log->retryNow();
    m_running = true;
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        const QString text = watcher->result();
        watcher->deleteLater();
        m_running = false;
        emit finished(text);
    });
    watcher->setFuture(QtConcurrent::run([dir = m_workDir, odbc = m_odbc, first, last, file] {
        QByteArray csv;
        Outcome o =
            LogStore::exportLog(dir, odbc, first, last, [&csv](const QByteArray& b) { csv += b; });
        if (o)
            o = FileOps::replaceWhole(file, file + QStringLiteral(".new"), csv);
        QString text = o ? QStringLiteral("計量紀錄已匯出 %1").arg(file)
                         : QStringLiteral("計量紀錄匯出失敗 %1").arg(o.reason());
        if (const int n = WeighingLog::waiting(dir, first, last); o && n > 0)
            text += QStringLiteral(", 另有 %1 筆尚待寫入資料庫, 未含在內").arg(n);
        return text;
    }));
    return QStringLiteral("計量紀錄匯出中 %1").arg(file);
}
