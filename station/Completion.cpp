#include "station/Completion.h"

#include "common/RecordFile.h"
#include "station/History.h"
#include "station/JobFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Completion {

namespace {
constexpr int kLength = JobRecord::kLength + HistoryRecord::kLength;
QString journal(const QString& workDir) { return QDir(workDir).filePath(QLatin1String(kJournal)); }
} // namespace

Outcome begin(const QString& workDir, const QByteArray& jobBytes, const QByteArray& historyBytes) {
    const QByteArray entry = jobBytes + historyBytes;
    if (entry.size() != kLength)
        return Outcome::failure(QStringLiteral("%1: bad entry").arg(QLatin1String(kJournal)));
    QFile f(journal(workDir));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        f.write(entry) != entry.size())
        return Outcome::failure(QStringLiteral("%1: %2").arg(QLatin1String(kJournal), f.errorString()));
    if (::fsync(f.handle()) != 0)
        return Outcome::failure(
            QStringLiteral("%1: %2").arg(QLatin1String(kJournal), QString::fromLocal8Bit(std::strerror(errno))));
    return Outcome::success();
}

void end(const QString& workDir) { QFile::remove(journal(workDir)); }

Recovery recover(const QString& workDir, const QString& queueFile, const QString& twinFile) {
    Recovery r;
    QFile f(journal(workDir));
    if (!f.exists())
        return r;
    if (!f.open(QIODevice::ReadOnly)) {
        r.outcome = Outcome::failure(QStringLiteral("%1: %2").arg(QLatin1String(kJournal), f.errorString()));
        return r;
    }
    const QByteArray entry = f.read(kLength + 1);
    f.close();
    // A torn journal was cut before the history record was begun: nothing to complete.
    if (entry.size() == kLength) {
        const QByteArray jobBytes = entry.left(JobRecord::kLength);
        const QByteArray historyBytes = entry.mid(JobRecord::kLength);
        const HistoryRecord h = HistoryRecord::decode(historyBytes);
        const QString historyPath = QDir(workDir).filePath(historyFileName(h.Completed));
        bool logged = false;
        if (QFile::exists(historyPath)) {
            const RecordFile::Read all = RecordFile::readAll(historyPath, HistoryRecord::kLength);
            for (qsizetype off = all.bytes.size() - HistoryRecord::kLength; off >= 0 && !logged;
                 off -= HistoryRecord::kLength)
                logged = all.bytes.mid(off, HistoryRecord::kLength) == historyBytes;
        }
        if (logged) {
            const ReadJobResult first = ReadJob(queueFile, 1);
            if (first.outcome && first.bytes == jobBytes) {
                r.outcome = RemoveJob(queueFile, twinFile, 1);
                if (!r.outcome)
                    return r; // keep the journal: the removal is tried again at the next start
                r.removed = true;
                r.orderNo = first.job.OrderNo;
            }
        }
    }
    end(workDir);
    return r;
}

} // namespace Completion
