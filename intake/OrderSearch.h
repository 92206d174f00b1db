#pragma once
#include "intake/IntakeContext.h"

#include <QObject>

// The order search of one entry box: Enter in the settings window's search box (Form1.Text3)
// or in the main window's entry box (Form3.Text2). It builds the query, fetches the rows on
// the database thread and, when they arrive, shows them in the staging grid and writes one
// job record or one dye order record.
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
    bool writeJob(const DbRows& rows);
    bool writeDyeOrder(const DbRows& rows);
    void fail(const QString& reason);
    void reportLeftOut(int lines, int capacity);

    IntakeContext& m_ctx;
    Entry m_entry;
    QString m_key;
};
