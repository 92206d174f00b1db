#include "station/History.h"

#include "common/FileOps.h"
#include "common/OleDate.h"
#include "common/RecordFile.h"
#include "common/TextField.h"
#include "station/HistoryLayout.h"
#include "station/WeighingModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cstring>

namespace {
using namespace HistoryLayout;

} // namespace

QString HistoryRecord::stampText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QByteArray HistoryRecord::encode() const {
    QByteArray r(kLength, ' ');
    TextField::put(r, kOrderNo, kOrderNoWidth, OrderNo);
    for (int i = 1; i <= kLines; ++i) {
        TextField::put(r, code(i), kCodeWidth, Code[size_t(i)]);
        TextField::put(r, target(i), kTargetWidth, Target[size_t(i)]);
        TextField::put(r, actual(i), kActualWidth, Actual[size_t(i)]);
        TextField::put(r, b01(i), kB01Width, B01[size_t(i)]);
    }
    TextField::put(r, kStampText, kStampTextWidth, stampText(Completed));
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
    h.OrderNo = TextField::at(b, kOrderNo, kOrderNoWidth);
    for (int i = 1; i <= kLines; ++i) {
        h.Code[size_t(i)] = TextField::at(b, code(i), kCodeWidth);
        h.Target[size_t(i)] = TextField::at(b, target(i), kTargetWidth);
        h.Actual[size_t(i)] = TextField::at(b, actual(i), kActualWidth);
        h.B01[size_t(i)] = TextField::at(b, b01(i), kB01Width);
    }
    const quint64 bits = qFromLittleEndian<quint64>(b.constData() + kStamp);
    double stamp;
    std::memcpy(&stamp, &bits, sizeof stamp);
    h.Completed = OleDate::toDateTime(stamp);
    return h;
}

HistoryRecord historyFromLineTable(const QString& orderNo,
                                   const std::array<QString, 201>& lineTable,
                                   const QDateTime& completed) {
    HistoryRecord h;
    h.OrderNo = TextField::trimSpaces(orderNo);
    for (int i = 1; i <= HistoryRecord::kLines; ++i) {
        h.Code[size_t(i)] = lineTable[lineSlot(i, LineSlot::Code)];
        h.B01[size_t(i)] = lineTable[lineSlot(i, LineSlot::B01)];
        h.Target[size_t(i)] = lineTable[lineSlot(i, LineSlot::Target)];
        h.Actual[size_t(i)] = lineTable[lineSlot(i, LineSlot::Actual)];
    }
    h.Completed = completed;
    return h;
}

QString historyFileName(const QDateTime& t) {
    return QStringLiteral("data/DATE_%1.txt").arg(t.toString(QStringLiteral("yyyyMM")));
}

Outcome AppendHistoryBytes(const QString& workDir, const QByteArray& bytes) {
    const QDateTime completed = HistoryRecord::decode(bytes).Completed;
    if (bytes.size() != HistoryRecord::kLength || !completed.isValid())
        return Outcome::failure(QStringLiteral("no completion time"));
    const QDir dir(workDir);
    const QFileInfo fi(dir.filePath(QStringLiteral("data")));
    if (fi.exists() && !fi.isDir())
        return Outcome::failure(QStringLiteral("data: not a folder"));
    if (!fi.exists()) {
        if (!dir.mkpath(QStringLiteral("data")))
            return Outcome::failure(QStringLiteral("data: cannot create the folder"));
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
    return AppendHistoryBytes(workDir, record.encode());
}

HistoryLookup FindHistoryBytes(const QString& workDir, const QByteArray& bytes) {
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
