#pragma once
#include "common/Outcome.h"

#include <QObject>
#include <QString>
#include <array>

// The field mapping as the field-mapping window shows it: 5 texts (Text2: field count,
// import mode, three spares), 60 entries (Combo1: column numbers, condition columns and
// values, the table name) and the query text (Text1). Readers ask it each time they act,
// so an edit in a box counts at once.
class FieldMapping : public QObject {
    Q_OBJECT
public:
    static constexpr int kTextCount = 5;
    static constexpr int kEntryCount = 60;
    static constexpr int kRecordLength = 100;
    // The staging table holds fields 0..1000.
    static constexpr int kMaxField = 1000;

    // Entries with a meaning of their own.
    enum Entry {
        OrderNoColumn = 0,
        Condition1Field = 20,
        Condition1Value = 21,
        Condition2Field = 23,
        Condition2Value = 24,
        Condition3Field = 26,
        Condition3Value = 27,
        TableName = 39,
        DyeOrderNoColumn = 40
    };

    static const char* textCaption(int index);  // UTF-8, "" when it has none
    static const char* entryCaption(int index); // UTF-8, "" when it has none

    explicit FieldMapping(QObject* parent = nullptr) : QObject(parent) {}

    QString text(int index) const { return m_texts[size_t(index)]; }
    QString entry(int index) const { return m_entries[size_t(index)]; }
    QString query() const { return m_query; }
    void setText(int index, const QString& value);
    void setEntry(int index, const QString& value);
    void setQuery(const QString& value);

    // The entry with leading and trailing spaces removed.
    QString trimmedEntry(int index) const;
    // The highest field index read (Text2(0), lenient parse): blank or negative reads 0,
    // values above the staging table's bound read kMaxField.
    int fieldCount() const;
    // True when Text2(0) asks for more fields than the staging table holds.
    bool fieldCountBeyondBound() const;
    // Text2(1) trimmed: "1" job record, "2" dye order record.
    QString importMode() const;
    // The staging-grid column of an entry (lenient parse); 0 means not mapped.
    int column(int index) const;

    // set2_1.txt, set2_2.txt and set2.txt in `folder` (100-byte records, created empty
    // when missing).
    Outcome load(const QString& folder);
    Outcome save(const QString& folder) const;

signals:
    void textChanged(int index);
    void entryChanged(int index);
    void queryChanged();

private:
    std::array<QString, kTextCount> m_texts;
    std::array<QString, kEntryCount> m_entries;
    QString m_query;
};
