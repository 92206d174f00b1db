#include "common/RecordFile.h"

#include <QFile>
#include <QFileInfo>

namespace RecordFile {

namespace {

QString describe(const QFile& f) {
    return QStringLiteral("%1: %2").arg(QFileInfo(f.fileName()).fileName(), f.errorString());
}

Outcome openForUpdate(QFile& f) {
    if (f.open(QIODevice::ReadWrite))
        return Outcome::success();
    // A file that may be read but not written still counts and reads.
    if (f.exists() && f.open(QIODevice::ReadOnly))
        return Outcome::success();
    return Outcome::failure(describe(f));
}

} // namespace

Outcome ensureExists(const QString& path, bool privateFile) {
    QFile f(path);
    if (f.exists())
        return Outcome::success();
    if (!f.open(QIODevice::WriteOnly))
        return Outcome::failure(describe(f));
    if (privateFile)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return Outcome::success();
}

Count count(const QString& path, int length) {
    Count c;
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        c.outcome = o;
        return c;
    }
    c.records = f.size() / length;
    return c;
}

Read read(const QString& path, int length, qint64 record) {
    Read r;
    r.bytes = QByteArray(length, '\0');
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        r.outcome = o;
        return r;
    }
    if (record < 1)
        return r;
    if (!f.seek((record - 1) * length)) {
        r.outcome = Outcome::failure(describe(f));
        return r;
    }
    const QByteArray got = f.read(length);
    if (got.isNull() && f.error() != QFileDevice::NoError) {
        r.outcome = Outcome::failure(describe(f));
        return r;
    }
    r.bytes.replace(0, got.size(), got);
    return r;
}

Read readAll(const QString& path, int length) {
    Read r;
    QFile f(path);
    if (Outcome o = openForUpdate(f); !o) {
        r.outcome = o;
        return r;
    }
    const qint64 whole = f.size() / length * length;
    r.bytes = f.read(whole);
    if (r.bytes.size() != whole) {
        r.outcome = Outcome::failure(describe(f));
        r.bytes.clear();
    }
    return r;
}

Outcome write(const QString& path, int length, qint64 record, const QByteArray& bytes) {
    Q_ASSERT(bytes.size() == length);
    if (record < 1 || bytes.size() != length)
        return Outcome::failure(QStringLiteral("bad record number or length"));
    QFile f(path);
    // Unbuffered, so that a short write (a full disk) shows at once and the partial
    // record can be cut off again below.
    if (!f.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return Outcome::failure(describe(f));
    const qint64 offset = (record - 1) * length;
    if (!f.seek(offset))
        return Outcome::failure(describe(f));
    // One write call: a record is either written whole or, after a failure, the tail
    // beyond the last whole record is ignored by every reader.
    if (f.write(bytes) != length || !f.flush()) {
        const QString why = describe(f);
        if (offset >= 0 && f.size() > offset && f.size() < offset + length)
            f.resize(offset);
        return Outcome::failure(why);
    }
    return Outcome::success();
}

Outcome append(const QString& path, int length, const QByteArray& bytes) {
    const Count c = count(path, length);
    if (!c.outcome)
        return c.outcome;
    return write(path, length, c.records + 1, bytes);
}

} // namespace RecordFile
