#pragma once
#include "common/Outcome.h"
#include <QByteArray>
#include <QString>

// Files of fixed-length records numbered from 1. Every call opens the file, acts and
// closes it again; a missing file is created empty when it is opened. Record k lies at
// byte offset (k - 1) * length; the record count is the file length divided by the
// record length, a partial tail ignored.
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
Outcome write(const QString& path, int length, qint64 record, const QByteArray& bytes);
Outcome append(const QString& path, int length, const QByteArray& bytes);

// Creates the file empty when it is missing (owner read/write only when `privateFile`).
Outcome ensureExists(const QString& path, bool privateFile = false);

} // namespace RecordFile
