#include "jobs/History.h"

#include "common/FileOps.h"
#include "common/RecordFile.h"

#include <QDir>
#include <QFileInfo>

Outcome appendHistoryBytes(const QString& workDir, const QByteArray& bytes) {
    const QDateTime completed = HistoryRecord::decode(bytes).Completed;
    if (bytes.size() != HistoryRecord::kLength || !completed.isValid())
        return Outcome::failure(QStringLiteral("no completion time"));
    const QDir dir(workDir);
    const QString folder = MonthFile::folder();
    const QFileInfo fi(dir.filePath(folder));
    if (fi.exists() && !fi.isDir())
        return Outcome::failure(QStringLiteral("%1: not a folder").arg(folder));
    if (!fi.exists()) {
        if (!dir.mkpath(folder))
            return Outcome::failure(QStringLiteral("%1: cannot create the folder").arg(folder));
        if (Outcome o = FileOps::syncFolder(workDir); !o)
            return o;
    }
    // Synced before it returns; a failed append is cut off again, so that trying again
    // cannot leave the record in the file twice.
    return RecordFile::append(dir.filePath(historyFileName(completed)), HistoryRecord::kLength,
                              bytes);
}

Outcome AppendHistory(const QString& workDir, const HistoryRecord& record) {
    if (!record.Completed.isValid())
        return Outcome::failure(QStringLiteral("no completion time"));
    return appendHistoryBytes(workDir, record.encode());
}

HistoryLookup findHistoryBytes(const QString& workDir, const QByteArray& bytes) {
    HistoryLookup r;
    const QDateTime completed = HistoryRecord::decode(bytes).Completed;
    if (!completed.isValid()) {
        r.outcome = Outcome::failure(QStringLiteral("no completion time"));
        return r;
    }
    const QString file = QDir(workDir).filePath(historyFileName(completed));
    if (!QFileInfo::exists(file))
        return r;
    const RecordFile::Read all = RecordFile::readAll(file, HistoryRecord::kLength);
    r.outcome = all.outcome;
    // From the end: the record looked for is the latest, or close to it.
    for (qsizetype off = all.bytes.size() - HistoryRecord::kLength; off >= 0 && !r.found;
         off -= HistoryRecord::kLength)
        r.found =
            QByteArrayView(all.bytes).sliced(off, HistoryRecord::kLength) == QByteArrayView(bytes);
    return r;
}
