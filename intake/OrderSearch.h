#pragma once
#include "intake/IntakeContext.h"

#include <QObject>

// The order search of one entry box: Enter in the settings window's search box (Form1.Text3)
// or in the main window's entry box (Form3.Text2). It builds the query, fetches the rows on
// the database thread and, when they arrive, shows them in the staging grid and writes the
// order's job records (one for every ten lines) or one dye order record, built from these
// rows alone. Text that code page 950 cannot hold is never written: such an order is
// refused and reported.
class OrderSearch : public QObject {
    Q_OBJECT
public:
    enum class Entry { SettingsWindow, MainWindow };

    OrderSearch(IntakeContext& context, Entry entry, QObject* parent = nullptr);

    // Enter with `text` in the entry box.
    void enter(const QString& text);

signals:
    // Settings window: the rows of the search for `key` were read; the box is emptied.
    void rowsRead(const QString& key);
    // The search is over (`wrote`: a record was written).
    void finished(bool wrote);

private:
    void apply(const QueryResult& r);
    // Each ends the search (emits finished). `grid` holds this query's rows alone.
    void writeJob(const StagingGrid& grid, const DbRows& rows);
    void writeDyeOrder(const StagingGrid& grid, const DbRows& rows);
    void fail(const QString& reason);
    void succeed(bool wrote);
    // The main window's entry answers every scan on the status line.
    void answer(const QString& text);
    // " (已在計量佇列中 2 筆, 今日已計量過, 仍再排入)" for an order already queued in `file`
    // or already weighed today; empty when it is neither.
    QString alreadyNote(const QString& file) const;
    QString refusedText(const QString& unstorable) const;

    IntakeContext& m_ctx;
    Entry m_entry;
    QString m_key;
};
