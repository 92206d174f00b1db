#pragma once
#include "common/Outcome.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The polling's claim of one order while it is in progress, kept in POLL_CLAIM.txt of the
// working folder from just before the claim is committed until its job records are in the
// queue file. It says how far the claim got: rewritten (whole) once the commit returned,
// and after each record appended. A start (or step) that finds it completes the claim
// from there; see OrderPolling.
struct ClaimJournal {
    int station = 0;
    QString table;
    QString orderId;           // as the database stores it
    QString target;            // the queue file the records go to
    QList<QStringList> lines;  // the claimed lines as read (fields 0..15)
    QList<QByteArray> records; // the job records, in order
    bool committed = false;    // the commit is known to have gone through
    // How many records are known to be in the queue file; -1 in a journal of an earlier
    // version, which did not say.
    int appended = 0;

    static QString path(const QString& workDir);

    // Whole or not at all: written to a temporary file, synced, renamed over the journal.
    Outcome write(const QString& path) const;
    static Outcome read(const QString& path, ClaimJournal& out);
    static Outcome remove(const QString& path);
};
