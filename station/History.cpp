#include "station/History.h"

#include "common/OleDate.h"
#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kOrderNo = 0, kSpare1 = 50, kCode = 80, kTarget = 280, kActual = 380,
              kStampText = 480, kStamp = 510, kB01 = 518, kSpare4 = 1068, kEol = 1598;

// Pushes a file's (or a folder's) data to the disk. fsync works on the file, not on the
// descriptor, so a fresh descriptor carries what an earlier one wrote.
bool syncToDisk(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}
} // namespace

QString HistoryRecord::stampText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QByteArray HistoryRecord::encode() const {
    QByteArray r(kLength, ' ');
    TextField::put(r, kOrderNo, 50, OrderNo);
    for (int i = 1; i <= kLines; ++i) {
        TextField::put(r, kCode + 20 * (i - 1), 20, Code[size_t(i)]);
        TextField::put(r, kTarget + 10 * (i - 1), 10, Target[size_t(i)]);
        TextField::put(r, kActual + 10 * (i - 1), 10, Actual[size_t(i)]);
        TextField::put(r, kB01 + 50 * i, 50, B01[size_t(i)]);
    }
    TextField::put(r, kStampText, 30, stampText(Completed));
    const double stamp = OleDate::fromDateTime(Completed);
    quint64 bits;
    std::memcpy(&bits, &stamp, sizeof bits);
    qToLittleEndian(bits, r.data() + kStamp);
    r[kEol] = '\r';
    r[kEol + 1] = '\n';
    return r;
}

HistoryRecord HistoryRecord::decode(const QByteArray& bytes) {
    QByteArray b = bytes;
    if (b.size() < kLength)
        b.append(kLength - b.size(), ' ');
    HistoryRecord h;
    h.OrderNo = TextField::at(b, kOrderNo, 50);
    for (int i = 1; i <= kLines; ++i) {
        h.Code[size_t(i)] = TextField::at(b, kCode + 20 * (i - 1), 20);
        h.Target[size_t(i)] = TextField::at(b, kTarget + 10 * (i - 1), 10);
        h.Actual[size_t(i)] = TextField::at(b, kActual + 10 * (i - 1), 10);
        h.B01[size_t(i)] = TextField::at(b, kB01 + 50 * i, 50);
    }
    const quint64 bits = qFromLittleEndian<quint64>(b.constData() + kStamp);
    double stamp;
    std::memcpy(&stamp, &bits, sizeof stamp);
    h.Completed = OleDate::toDateTime(stamp);
    return h;
}

HistoryRecord historyFromLineTable(const QString& orderNo, const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed) {
    HistoryRecord h;
    h.OrderNo = TextField::trimSpaces(orderNo);
    for (int i = 1; i <= HistoryRecord::kLines; ++i) {
        h.Code[size_t(i)] = lineTable[size_t(10 * i)];
        h.B01[size_t(i)] = lineTable[size_t(10 * i + 1)];
        h.Target[size_t(i)] = lineTable[size_t(10 * i + 2)];
        h.Actual[size_t(i)] = lineTable[size_t(10 * i + 3)];
    }
    h.Completed = completed;
    return h;
}

QString historyFileName(const QDateTime& t) {
    return QStringLiteral("data/DATE_%1.txt").arg(t.toString(QStringLiteral("yyyyMM")));
}

Outcome AppendHistory(const QString& workDir, const HistoryRecord& record) {
    if (!record.Completed.isValid())
        return Outcome::failure(QStringLiteral("no completion time"));
    const QDir dir(workDir);
    const QString folder = dir.filePath(QStringLiteral("data"));
    const QFileInfo fi(folder);
    if (fi.exists() && !fi.isDir())
        return Outcome::failure(QStringLiteral("data: not a folder"));
    if (!fi.exists()) {
        if (!dir.mkpath(QStringLiteral("data")))
            return Outcome::failure(QStringLiteral("data: cannot create the folder"));
        syncToDisk(workDir);
    }
    const QString file = dir.filePath(historyFileName(record.Completed));
    const bool isNew = !QFileInfo::exists(file);
    const RecordFile::Count before = RecordFile::count(file, HistoryRecord::kLength);
    if (!before.outcome)
        return before.outcome;
    if (Outcome o = RecordFile::append(file, HistoryRecord::kLength, record.encode()); !o)
        return o;
    if (!syncToDisk(file) || (isNew && !syncToDisk(folder))) {
        // Not known to be on the disk: take the record back out, so that trying again
        // cannot leave it in the file twice.
        QFile::resize(file, before.records * HistoryRecord::kLength);
        return Outcome::failure(QStringLiteral("%1: cannot flush to disk").arg(QFileInfo(file).fileName()));
    }
    return Outcome::success();
}
