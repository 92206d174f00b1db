#pragma once
#include "common/Outcome.h"
#include <QByteArray>
#include <QString>
#include <functional>

// Files of fixed-length records numbered from 1. Every call opens the file, acts and
// closes it again; a missing file is created empty when it is opened. Record k lies at
// byte offset (k - 1) * length; the record count is the file length divided by the
// record length, a partial tail ignored.
//
// What a crash can leave: an append cut short leaves a partial tail, which every reader
// ignores and the next append overwrites; a rewrite never changes a record in place (a
// single write of a record that crosses a page boundary can be cut half old, half new)
// but goes through a twin file that is synced and renamed over the original.
namespace RecordFile {

struct Count {
    qint64 records = 0;
    Outcome outcome = Outcome::success();
};

struct Read {
    QByteArray bytes; // exactly `length` bytes; bytes past the end of the file read as zero
    Outcome outcome = Outcome::success();
};

Count count(const QString& path, int length);
Read read(const QString& path, int length, qint64 record);
// Reads every whole record at once (the file's whole records, concatenated).
Read readAll(const QString& path, int length);

// Writes the record after the last whole one and syncs the file (and its folder when the
// file is new) before it returns. A failed write is cut off again.
Outcome append(const QString& path, int length, const QByteArray& bytes);

// Rewrites the file through `twin`: `edit` receives the file's whole records and changes
// them; the result is written to the twin with the file's permission bits (and owner where
// permitted), synced, and renamed over the file, and the folder is synced. Records that
// another program appends while this runs are carried over, also those that land in the
// old file just after the rename. A twin that is a symbolic link is refused.
using Edit = std::function<Outcome(QByteArray& records)>;
Outcome rewrite(const QString& path, const QString& twin, int length, const Edit& edit);
// Record `record` replaced through rewrite(); a record beyond the end leaves zero bytes
// between.
Outcome write(const QString& path, const QString& twin, int length, qint64 record,
              const QByteArray& bytes);

// Creates the file empty when it is missing (owner read/write only when `privateFile`).
Outcome ensureExists(const QString& path, bool privateFile = false);

} // namespace RecordFile
