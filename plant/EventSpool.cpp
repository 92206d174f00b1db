#include "plant/EventSpool.h"

#include "common/FileOps.h"
#include "plant/LogStore.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

namespace EventSpool {

QString id(const WeighingEvent& e) {
    return e.station + QLatin1Char('@') + LogStore::isoText(e.at) + QLatin1Char('/') + e.event +
           QLatin1Char('/') + QString::number(e.line);
}

QByteArray toJson(const WeighingEvent& e) {
    const QJsonObject o{
        {QStringLiteral("id"), id(e)},          {QStringLiteral("at"), LogStore::isoText(e.at)},
        {QStringLiteral("station"), e.station}, {QStringLiteral("order_no"), e.orderNo},
        {QStringLiteral("line"), e.line},       {QStringLiteral("code"), e.code},
        {QStringLiteral("lot"), e.lot},         {QStringLiteral("target_g"), e.target},
        {QStringLiteral("actual_g"), e.actual}, {QStringLiteral("tolerance_g"), e.tolerance},
        {QStringLiteral("balance"), e.balance}, {QStringLiteral("event"), e.event},
        {QStringLiteral("detail"), e.detail}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool fromJson(const QByteArray& line, WeighingEvent& e) {
    const QJsonDocument d = QJsonDocument::fromJson(line);
    if (!d.isObject())
        return false;
    const QJsonObject o = d.object();
    e.at = QDateTime::fromString(o.value(QStringLiteral("at")).toString(), Qt::ISODateWithMs);
    if (!e.at.isValid())
        return false;
    e.station = o.value(QStringLiteral("station")).toString();
    e.orderNo = o.value(QStringLiteral("order_no")).toString();
    e.line = o.value(QStringLiteral("line")).toInt();
    e.code = o.value(QStringLiteral("code")).toString();
    e.lot = o.value(QStringLiteral("lot")).toString();
    e.target = o.value(QStringLiteral("target_g")).toString();
    e.actual = o.value(QStringLiteral("actual_g")).toString();
    e.tolerance = o.value(QStringLiteral("tolerance_g")).toString();
    e.balance = o.value(QStringLiteral("balance")).toString();
    e.event = o.value(QStringLiteral("event")).toString();
    e.detail = o.value(QStringLiteral("detail")).toString();
    return true;
}

qint64 size(const QString& file) {
    const QFileInfo fi(file);
    return fi.exists() ? fi.size() : 0;
}

// The length of the file up to the end of its last whole line.
static qint64 wholeLength(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() == 0)
        return 0;
    if (f.seek(f.size() - 1) && f.read(1) == "\n")
        return f.size();
    f.seek(0);
    return f.readAll().lastIndexOf('\n') + 1;
}

Outcome append(const QString& file, const QList<WeighingEvent>& events) {
    QByteArray bytes;
    for (const WeighingEvent& e : events)
        bytes += toJson(e) + '\n';
    return appendLines(file, bytes);
}

Outcome appendLines(const QString& file, const QByteArray& bytes) {
    const bool created = !QFileInfo::exists(file);
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return FileOps::failure(file, errno);
    const qint64 at = wholeLength(file);
    Outcome o = FileOps::writeAt(fd, file, bytes, at);
    if (o)
        o = FileOps::truncate(fd, file, at + bytes.size());
    if (o)
        o = FileOps::sync(fd, file);
    if (!o)
        (void)::ftruncate(fd, at); // the whole lines before stay as they were
    ::close(fd);
    // A file made now survives a power cut only with its folder's entry.
    if (o && created)
        o = FileOps::syncFolder(QFileInfo(file).absolutePath());
    return o;
}

QList<WeighingEvent> read(const QString& file, qint64 from, qint64* end) {
    QList<WeighingEvent> events;
    QFile f(file);
    QByteArray all;
    if (f.open(QIODevice::ReadOnly) && f.seek(from))
        all = f.readAll();
    const qsizetype whole = all.lastIndexOf('\n') + 1;
    for (const QByteArray& line : all.left(whole).split('\n')) {
        WeighingEvent e;
        if (!line.isEmpty() && fromJson(line, e))
            events.append(e);
    }
    if (end)
        *end = from + whole;
    return events;
}

QByteArray lineAt(const QString& file, qint64 from, qint64* next) {
    *next = from;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(from))
        return {};
    QByteArray line;
    while (!f.atEnd()) {
        const QByteArray part = f.readLine(1 << 20);
        line += part;
        if (line.endsWith('\n')) {
            *next = from + line.size();
            line.chop(1);
            return line;
        }
    }
    return {};
}

Outcome remove(const QString& file) {
    if (!QFileInfo::exists(file))
        return Outcome::success();
    if (Outcome o = FileOps::unlink(file); !o)
        return o;
    return FileOps::syncFolder(QFileInfo(file).absolutePath());
}

// Cut to nothing but kept: the next append then needs no new folder entry synced (an event
// is appended, and taken, every few seconds while a job is weighed). Not synced here: the
// next append's sync carries the new length with it, and lines that a power cut brings back
// before that are events already delivered, which the log and the bus tell by their id.
static Outcome empty(const QString& file) {
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return FileOps::failure(file, errno);
    const Outcome o = FileOps::truncate(fd, file, 0);
    ::close(fd);
    return o;
}

Outcome dropFront(const QString& file, qint64 upTo) {
    QFile f(file);
    if (!f.exists())
        return Outcome::success();
    if (!f.open(QIODevice::ReadOnly) || !f.seek(upTo))
        return Outcome::failure(QStringLiteral("%1: %2").arg(file, f.errorString()));
    QByteArray rest = f.readAll();
    f.close();
    rest.truncate(rest.lastIndexOf('\n') + 1);
    if (rest.isEmpty())
        return empty(file);
    return FileOps::replaceWhole(file, file + QStringLiteral(".new"), rest);
}

} // namespace EventSpool
