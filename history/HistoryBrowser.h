#pragma once
#include "common/Numbers.h"
#include "common/Outcome.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

// One history record as the browser uses it, decoded once when its month is loaded.
struct HistoryEntry {
    static constexpr int kLength = 1600;
    static constexpr int kLines = 10;

    QString OrderNo;   // blanks removed at both ends
    QString StampText; // as stored, padding kept
    std::array<QString, kLines + 1> Code{}; // lines 1..10, blanks removed
    std::array<Decimal, kLines + 1> Actual{}; // leading number of the Actual text, in grams
    QString jobLine; // the fixed-width line of the list

    static HistoryEntry decode(const QByteArray& record);
};

// The history browser: the month files of the "data" folder, the loaded month, the
// search by order number or by "##" and a day, and the usage totals per code.
// It only reads history files.
class HistoryBrowser {
public:
    static QString folderName() { return QStringLiteral("data"); }

    explicit HistoryBrowser(QString workDir);

    // The names in the history folder (files and folders alike), by name. Creates the
    // folder when it is missing. Read afresh on every call.
    struct Listing {
        QStringList names;
        Outcome outcome = Outcome::success();
    };
    Listing months() const;

    // Loads month file `name` of the history folder. On failure (a folder, a missing or
    // unreadable file) nothing changes and the outcome says why.
    Outcome load(const QString& name);

    // The search: an empty text (or blanks only) shows the whole month again; "##" and a
    // day finds the jobs finished on that day; any other text finds the order number.
    void search(const QString& text);

    // Usage totals per code, in the order codes were first met, over the matches of the
    // search in force or over the whole month; empty after a search that found nothing.
    QStringList totals() const;

    // The job lines of the loaded month, or of the matches of the search in force.
    QStringList jobLines() const;

    const QString& loadedName() const { return m_loadedName; }
    // Records 1..recordCount() of the loaded month.
    qsizetype recordCount() const { return m_records.empty() ? 0 : qsizetype(m_records.size()) - 1; }
    bool searchActive() const { return m_searchActive; }
    qsizetype matchCount() const { return qsizetype(m_matches.size()); }
    const HistoryEntry& record(qsizetype k) const { return m_records[size_t(k)]; }

    // A total in grams written as kilograms, exactly: 18.01 g gives "0.01801".
    static QString kilograms(Decimal grams);

private:
    QString m_workDir;
    QString m_loadedName;
    std::vector<HistoryEntry> m_records;
    std::vector<qsizetype> m_matches; // indices into m_records, in file order
    bool m_searchActive = false;
};
