#include "intake/ClaimJournal.h"

#include "station/JobRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

Outcome failure(const QString& why) {
    return Outcome::failure(QStringLiteral("POLL_CLAIM.txt: %1").arg(why));
}

void syncFolder(const QString& path) {
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

QString ClaimJournal::path(const QString& workDir) {
    return QDir(workDir).filePath(QStringLiteral("POLL_CLAIM.txt"));
}

Outcome ClaimJournal::write(const QString& path) const {
    QJsonArray lineArray, recordArray;
    for (const QStringList& l : lines)
        lineArray.append(QJsonArray::fromStringList(l));
    for (const QByteArray& r : records)
        recordArray.append(QString::fromLatin1(r.toBase64()));
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("station"), station},
                                                       {QStringLiteral("table"), table},
                                                       {QStringLiteral("orderId"), orderId},
                                                       {QStringLiteral("target"), target},
                                                       {QStringLiteral("lines"), lineArray},
                                                       {QStringLiteral("records"), recordArray},
                                                       {QStringLiteral("committed"), committed},
                                                       {QStringLiteral("appended"), appended}})
                                 .toJson(QJsonDocument::Compact);
    const QByteArray temp = QFile::encodeName(path + QStringLiteral(".tmp"));
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure(systemError());
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    const QString why = systemError();
    ::close(fd);
    if (!ok || ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        const QString error = ok ? systemError() : why;
        ::unlink(temp.constData());
        return failure(error);
    }
    syncFolder(path);
    return Outcome::success();
}

Outcome ClaimJournal::read(const QString& path, ClaimJournal& out) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failure(f.errorString());
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    ClaimJournal j;
    j.station = o.value(QStringLiteral("station")).toInt();
    j.table = o.value(QStringLiteral("table")).toString();
    j.orderId = o.value(QStringLiteral("orderId")).toString();
    j.target = o.value(QStringLiteral("target")).toString();
    for (const QJsonValue& l : o.value(QStringLiteral("lines")).toArray()) {
        QStringList fields;
        for (const QJsonValue& v : l.toArray())
            fields << v.toString();
        j.lines << fields;
    }
    j.committed = o.value(QStringLiteral("committed")).toBool(false);
    j.appended = o.value(QStringLiteral("appended")).toInt(-1);
    bool whole = true;
    for (const QJsonValue& r : o.value(QStringLiteral("records")).toArray()) {
        j.records << QByteArray::fromBase64(r.toString().toLatin1());
        whole = whole && j.records.last().size() == JobRecord::kLength;
    }
    if (!whole || j.station < 1 || j.target.isEmpty() || j.lines.isEmpty() || j.records.isEmpty() ||
        j.appended < -1 || j.appended > j.records.size())
        return Outcome::failure(QStringLiteral("內容不完整"));
    out = j;
    return Outcome::success();
}

Outcome ClaimJournal::remove(const QString& path) {
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return failure(systemError());
    syncFolder(path);
    return Outcome::success();
}
