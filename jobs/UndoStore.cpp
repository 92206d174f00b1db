#include "jobs/UndoStore.h"

#include "common/FileOps.h"
#include "common/RecordFile.h"
#include "jobs/JobFile.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <tuple>

namespace {
// Header: state (1), group (10), count before (10), file (40), what (UTF-8, 79).
constexpr int kFileWidth = 40;
constexpr int kWhatWidth = UndoStore::kHeaderLength - 21 - kFileWidth;

QByteArray field(const QString& text, int width) {
    QString t = text;
    QByteArray b = t.toUtf8();
    while (b.size() > width) { // cut on a character boundary
        t.chop(1);
        b = t.toUtf8();
    }
    return b.leftJustified(width, ' ');
}

QString text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).trimmed();
}
} // namespace

UndoStore::UndoStore(QString workDir, QObject* parent)
    : QObject(parent), m_dir(std::move(workDir)) {}

QString UndoStore::fileName() const {
    return QDir(m_dir).filePath(QStringLiteral("UNDO.txt"));
}

QString UndoStore::absolute(const QString& file) const {
    return QDir(m_dir).filePath(file);
}

Outcome UndoStore::load(QList<Entry>& out) const {
    out.clear();
    QFile f(fileName());
    if (!f.exists())
        return Outcome::success();
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("%1: %2").arg(fileName(), f.errorString()));
    const QByteArray all = f.readAll();
    for (qsizetype at = 0; at + kEntryLength <= all.size(); at += kEntryLength) {
        const QByteArray e = all.mid(at, kEntryLength);
        Entry entry;
        entry.state = e.at(0);
        entry.group = e.mid(1, 10).trimmed().toLongLong();
        entry.countBefore = e.mid(11, 10).trimmed().toLongLong();
        entry.file = text(e.mid(21, kFileWidth));
        entry.what = text(e.mid(21 + kFileWidth, kWhatWidth));
        entry.record = e.mid(kHeaderLength);
        out << entry;
    }
    return Outcome::success();
}

Outcome UndoStore::save(const QList<Entry>& entries) {
    QByteArray all;
    all.reserve(entries.size() * kEntryLength);
    for (const Entry& e : entries) {
        all += e.state;
        all += QByteArray::number(e.group).leftJustified(10, ' ');
        all += QByteArray::number(e.countBefore).leftJustified(10, ' ');
        all += field(e.file, kFileWidth);
        all += field(e.what, kWhatWidth);
        all += e.record.leftJustified(kRecordLength, ' ', true);
    }
    const Outcome o = FileOps::replaceWhole(
        fileName(), QDir(m_dir).filePath(QStringLiteral("UNDO.tmp")), all, 0644);
    if (o)
        m_entries = entries;
    emit changed();
    return o;
}

Outcome UndoStore::keep(const QString& file, const QList<QByteArray>& records,
                        const QString& what) {
    if (!m_loaded) {
        if (Outcome o = load(m_entries); !o)
            return o;
        m_loaded = true;
    }
    QList<Entry> next = m_entries;
    const qint64 group = next.isEmpty() ? 1 : next.last().group + 1;
    // Only the last kGroups removals are kept.
    QList<qint64> groups;
    for (const Entry& e : next)
        if (groups.isEmpty() || groups.last() != e.group)
            groups << e.group;
    if (groups.size() >= kGroups) {
        const qint64 oldest = groups.at(groups.size() - kGroups);
        next.removeIf([oldest](const Entry& e) { return e.group <= oldest; });
    }
    const QString relative = QDir(m_dir).relativeFilePath(file);
    for (const QByteArray& r : records)
        next << Entry{'P', group, 0, relative, what, r};
    return save(next);
}

void UndoStore::settle(bool removed) {
    if (m_entries.isEmpty() || m_entries.last().state != 'P')
        return;
    QList<Entry> next = m_entries;
    const qint64 group = next.last().group;
    if (removed) {
        for (Entry& e : next)
            if (e.group == group)
                e.state = 'K';
    } else {
        next.removeIf([group](const Entry& e) { return e.group == group; });
    }
    // A failure leaves the group pending; the next start settles it by the file's content.
    std::ignore = save(next);
}

bool UndoStore::canUndo() const {
    return !m_entries.isEmpty() && m_entries.last().state != 'P';
}

QString UndoStore::lastWhat() const {
    return canUndo() ? m_entries.last().what : QString();
}

// Each record appended is marked restored at once, so that a retry after a failed append
// never goes by positions, which the weighing's removals move in the meantime. Only a
// crash between an append and its mark leaves a record to be found by position, and the
// next start completes the restore before anything is removed.
Outcome UndoStore::restore(QList<Entry>& entries, qint64 group) {
    const auto first = std::find_if(entries.cbegin(), entries.cend(),
                                    [group](const Entry& e) { return e.group == group; });
    const QString file = absolute(first->file);
    const RecordFile::Read all = RecordFile::readAll(file, kRecordLength);
    if (!all.outcome)
        return all.outcome;
    qint64 at = first->countBefore;
    const qint64 count = all.bytes.size() / kRecordLength;
    for (Entry& e : entries) {
        if (e.group != group || e.state == 'A')
            continue;
        // Appended before a crash: found after the count the restore began at.
        qint64 found = -1;
        for (qint64 k = at; k < count && found < 0; ++k)
            if (all.bytes.mid(k * kRecordLength, kRecordLength) == e.record)
                found = k;
        if (found >= 0) {
            at = found + 1;
            e.state = 'A';
            continue;
        }
        at = count;
        if (Outcome o = appendJobBytes(file, e.record); !o)
            return o;
        e.state = 'A';
        if (Outcome o = save(entries); !o)
            return o;
    }
    return Outcome::success();
}

Outcome UndoStore::undo() {
    if (!m_loaded) {
        if (Outcome o = load(m_entries); !o)
            return o;
        m_loaded = true;
    }
    if (!canUndo())
        return Outcome::failure(QStringLiteral("沒有可復原的刪除"));
    QList<Entry> next = m_entries;
    const qint64 group = next.last().group;
    const JobCountResult c = JobCount(absolute(next.last().file));
    if (!c.outcome)
        return c.outcome;
    QList<Entry> restoring;
    // A restore cut short keeps its count and its marks: it goes on where it stopped.
    const bool resumed = next.last().state == 'R' || next.last().state == 'A';
    for (Entry& e : next)
        if (e.group == group) {
            if (!resumed) {
                e.state = 'R';
                e.countBefore = c.count;
            }
            restoring << e;
        }
    if (!resumed)
        if (Outcome o = save(next); !o)
            return o;
    if (Outcome o = restore(next, group); !o)
        return o; // still marked: the next undo or start completes it
    next.removeIf([group](const Entry& e) { return e.group == group; });
    if (Outcome o = save(next); !o)
        return o;
    emit restored(absolute(restoring.first().file), int(restoring.size()), restoring.first().what);
    return Outcome::success();
}

Outcome UndoStore::recover() {
    if (Outcome o = load(m_entries); !o)
        return o;
    m_loaded = true;
    if (m_entries.isEmpty())
        return Outcome::success();
    QList<Entry> next = m_entries;
    const qint64 group = next.last().group;
    QList<Entry> last;
    for (const Entry& e : next)
        if (e.group == group)
            last << e;
    const char state = last.first().state;
    if (state == 'P') {
        // Removed or not: a record of the group missing from its file says it was.
        const RecordFile::Read all =
            RecordFile::readAll(absolute(last.first().file), kRecordLength);
        if (!all.outcome)
            return all.outcome;
        bool removed = false;
        for (const Entry& e : last) {
            bool present = false;
            for (qint64 at = 0; at + kRecordLength <= all.bytes.size() && !present;
                 at += kRecordLength)
                present = all.bytes.mid(at, kRecordLength) == e.record;
            removed = removed || !present;
        }
        settle(removed);
        return Outcome::success();
    }
    if (state == 'R' || state == 'A') {
        if (Outcome o = restore(next, group); !o)
            return o;
        next.removeIf([group](const Entry& e) { return e.group == group; });
        return save(next);
    }
    emit changed();
    return Outcome::success();
}
