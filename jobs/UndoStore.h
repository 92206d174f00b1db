#pragma once
#include "common/Outcome.h"
#include "jobs/JobRecord.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// Undo instead of confirmation: the station asks no confirmation before removing jobs or
// recipes, so every removal keeps the whole records it removes, and one command puts the
// last removal back (appended to the file it came from, in their order).
//
// The kept removals live in UNDO.txt in the working folder, replaced whole at every change
// (written to UNDO.tmp, synced, renamed, the folder synced), so a crash leaves the old or
// the new list. The steps of a removal: keep() (the records, marked pending), the removal,
// settle(). The steps of an undo: the group is marked as being restored with the record
// count of its file, the records are appended (each synced), the group is dropped. recover()
// at start-up completes what a crash cut: a pending group whose records are all still in
// their file was never removed and is forgotten, otherwise it is kept; a restore cut short
// appends only the records that did not reach the file. Nothing is lost and nothing is put
// back twice.
class UndoStore : public QObject {
    Q_OBJECT
public:
    static constexpr int kRecordLength = JobRecord::kLength;
    static constexpr int kHeaderLength = 140;
    static constexpr int kEntryLength = kHeaderLength + kRecordLength;
    static constexpr int kGroups = 20; // the last removals that can be put back

    explicit UndoStore(QString workDir, QObject* parent = nullptr);

    // Before a removal from `file` (a path in the working folder): keeps `records`.
    // A failure means nothing may be removed.
    [[nodiscard]] Outcome keep(const QString& file, const QList<QByteArray>& records,
                               const QString& what);
    // After it: the records were removed (the group can be undone) or not (forgotten).
    void settle(bool removed);
    // Puts the last removal back.
    [[nodiscard]] Outcome undo();
    // Completes what a crash cut short (see above). Called once at start-up.
    [[nodiscard]] Outcome recover();

    bool canUndo() const;
    // What the last removal was ("取消全部 3 筆"), empty when there is none.
    QString lastWhat() const;
    QString fileName() const;

signals:
    void changed();
    // A removal was put back: `records` records appended to `file`.
    void restored(const QString& file, int records, const QString& what);

private:
    struct Entry {
        char state = 'P'; // P pending, K kept (removed), R being restored, A restored
        qint64 group = 0;
        qint64 countBefore = 0; // R: the record count of the file before the restore
        QString file;           // relative to the working folder
        QString what;
        QByteArray record;
    };
    Outcome load(QList<Entry>& out) const;
    Outcome save(const QList<Entry>& entries);
    QString absolute(const QString& file) const;
    // Appends the records of `group` not restored yet, marking each restored in `entries`.
    Outcome restore(QList<Entry>& entries, qint64 group);

    QString m_dir;
    QList<Entry> m_entries;
    bool m_loaded = false;
};
