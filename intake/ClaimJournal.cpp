#include "intake/ClaimJournal.h"

#include "common/FileOps.h"
#include "jobs/JobRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

Outcome failure(const QString& why) {
    return Outcome::failure(QStringLiteral("POLL_CLAIM.txt: %1").arg(why));
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
    // Written to a temporary file, synced, renamed into place and the folder synced.
    if (Outcome o = FileOps::replaceWhole(path, path + QStringLiteral(".tmp"), bytes); !o)
        return failure(o.reason());
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
    return FileOps::syncFolder(QFileInfo(path).absolutePath());
}
