#pragma once
#include "common/Numbers.h"
#include "common/Outcome.h"
#include "history/HistoryRecord.h"

#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

// One history record as the browser uses it, decoded once when its month is loaded:
// the fixed-width line the list shows, and views into it for the fields the search and
// the totals compare.
struct HistoryEntry {
    static constexpr int kLength = HistoryLayout::kLength;
    static constexpr int kLines = HistoryLayout::kLines;

    QString jobLine;
    std::array<Decimal, kLines + 1> Actual{}; // lines 1..10: leading number, in grams
    std::array<qint32, kLines + 1> codeId{};  // lines 1..10: the month's code number, -1 blank

    QStringView OrderNo() const { return view(m_order); }             // blanks removed
    QStringView StampText() const { return view(m_stamp); }           // as stored, padding kept
    QStringView Code(int k) const { return view(m_code[size_t(k)]); } // blanks removed

    static HistoryEntry decode(const QByteArray& record);

private:
    struct Span {
        qint16 start = 0, length = 0;
    };
    QStringView view(Span s) const { return QStringView(jobLine).mid(s.start, s.length); }
    Span m_order, m_stamp;
    std::array<Span, kLines + 1> m_code{};
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

    // The same in steps, so that a large month never holds up the timers: beginLoad reads
    // the file (failing as load does), each loadStep decodes up to `maxRecords` records and
    // returns true once the month is complete and has replaced the loaded one. Until then
    // the last loaded month, its search and its totals stay as they were.
    Outcome beginLoad(const QString& name);
    bool loadStep(qsizetype maxRecords);
    void cancelLoad();
    bool loading() const { return m_pending != nullptr; }
    qsizetype loadDone() const { return m_pending ? m_pending->done : 0; }
    qsizetype loadTotal() const { return m_pending ? m_pending->total : 0; }

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
    qsizetype recordCount() const {
        return m_records.empty() ? 0 : qsizetype(m_records.size()) - 1;
    }
    bool searchActive() const { return m_searchActive; }
    qsizetype matchCount() const { return qsizetype(m_matches.size()); }
    // The record numbers of the matches of the search in force, in file order.
    const std::vector<qsizetype>& matches() const { return m_matches; }
    const QString& workDir() const { return m_workDir; }
    const HistoryEntry& record(qsizetype k) const { return m_records[size_t(k)]; }

    // A total in grams written as kilograms, exactly: 18.01 g gives "0.01801".
    static QString kilograms(Decimal grams);

private:
    struct PendingLoad {
        QString name;
        QByteArray bytes;
        qsizetype total = 0, done = 0;
        std::vector<HistoryEntry> records;
        std::vector<QString> codes;
        std::unordered_map<std::u16string_view, qint32>
            codeIds; // views into the lines of `records`
    };

    QString m_workDir;
    std::unique_ptr<PendingLoad> m_pending;
    QString m_loadedName;
    std::vector<HistoryEntry> m_records; // record k at index k
    std::vector<QString> m_codes;        // the distinct codes of the month, by code number
    std::vector<qsizetype> m_matches;    // indices into m_records, in file order
    bool m_searchActive = false;
};
