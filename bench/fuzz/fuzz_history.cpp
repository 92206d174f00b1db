// A month's history file as found on disk, decoded by the sequencer's record type, by
// the history browser and by the history table, and searched and filtered with any text
// the operator may type. The input's
// first byte says how many of its last bytes are the search text.
#include "FuzzSupport.h"
#include "common/TextField.h"
#include "history/HistoryBrowser.h"
#include "history/HistoryRecord.h"
#include "history/HistoryTableModel.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t searchLength = qMin<size_t>(data[0] % 40, size - 1);
    const QByteArray file = fuzz::bytes(data + 1, size - 1 - searchLength);
    const QByteArray search = fuzz::bytes(data + size - searchLength, searchLength);

    const QString dir = fuzz::scratch("history");
    QDir().mkpath(dir + QStringLiteral("/data"));
    fuzz::writeFile(dir + QStringLiteral("/data/DATE_202403.txt"), file);

    for (qsizetype off = 0; off + HistoryRecord::kLength <= file.size();
         off += HistoryRecord::kLength) {
        const QByteArray rec = file.mid(off, HistoryRecord::kLength);
        const HistoryRecord h = HistoryRecord::decode(rec);
        FUZZ_CHECK(h.encode().size() == HistoryRecord::kLength);
        (void)HistoryEntry::decode(rec);
    }

    HistoryBrowser browser(dir);
    FUZZ_CHECK(browser.load(QStringLiteral("DATE_202403.txt")).ok());
    FUZZ_CHECK(browser.recordCount() == file.size() / HistoryEntry::kLength);
    for (const QString& text : {TextField::fromCp950(search), QString::fromUtf8(search),
                                QStringLiteral("##") + QString::fromLatin1(search)}) {
        browser.search(text);
        FUZZ_CHECK(browser.matchCount() <= browser.recordCount());
        FUZZ_CHECK(browser.jobLines().size() ==
                   (browser.searchActive() ? browser.matchCount() : browser.recordCount()));
        const QStringList totals = browser.totals();
        if (browser.searchActive() && browser.matchCount() == 0)
            FUZZ_CHECK(totals.isEmpty());
    }
    (void)browser.months();

    auto set = std::make_shared<const HistorySet>(
        HistorySet::load(dir + QStringLiteral("/data"), {QStringLiteral("DATE_202403.txt")}));
    FUZZ_CHECK(qsizetype(set->orders.size()) == browser.recordCount());
    HistoryTableModel table;
    table.setSet(set);
    FUZZ_CHECK(size_t(table.rowCount()) == set->lines.size());
    table.setTextFilter(TextField::fromCp950(search));
    table.sort(data[0] % HistoryTableModel::ColumnCount);
    Decimal sum;
    for (const auto& u : table.totals())
        sum += u.grams;
    (void)table.dailyUsage();
    FUZZ_CHECK(table.tableCsv().startsWith("\xEF\xBB\xBF"));
    (void)sum;
    return 0;
}
