#include "intake/OrderSearch.h"

#include "common/OleDate.h"
#include "common/RecordFile.h"
#include "config/Language.h"
#include "history/HistoryRecord.h"
#include "intake/ImportBuilder.h"
#include "intake/Queries.h"
#include "jobs/JobCheck.h"
#include "jobs/JobFile.h"

#include <QDir>
#include <QFileInfo>

OrderSearch::OrderSearch(IntakeContext& context, Entry entry, QObject* parent)
    : QObject(parent), m_ctx(context), m_entry(entry) {}

void OrderSearch::enter(const QString& text) {
    const StationSettings& s = m_ctx.settings;
    const QString key = TextField::trimSpaces(text);
    const std::optional<SqlText> mapped = Queries::mapped(m_ctx.mapping, key);
    if (mapped)
        m_ctx.queryBox.setText(mapped->shown);
    if (!s.isSet(Option::OldPowderBarcode) && !s.isSet(Option::DyeBarcode) &&
        !s.isSet(Option::BarcodeScanIn)) {
        if (!key.isEmpty())
            answer(QStringLiteral("單號 %1 未查詢: 設定中沒有勾選條碼來源").arg(key));
        emit finished(false);
        return;
    }
    m_ctx.grid.reset();
    m_ctx.grid.notify();

    SqlText sql;
    if (m_entry == Entry::SettingsWindow) {
        if (s.isSet(Option::DyeBarcode))
            sql = Queries::direct(key, 2);
        else if (s.isSet(Option::OldPowderBarcode))
            sql = Queries::direct(key, 1);
    } else if (s.isSet(Option::DyeBarcode)) {
        sql = Queries::direct(key, 1);
    }
    if (!sql.sql.isEmpty())
        m_ctx.queryBox.setText(sql.shown);
    else if (mapped) // the box shows it: the key is bound
        sql = *mapped;
    else // the operator's own query, as typed
        sql = TextField::trimSpaces(m_ctx.queryBox.text());
    if (TextField::trimSpaces(sql.sql).isEmpty()) {
        m_key = key;
        fail(QStringLiteral("沒有查詢 (欄位對應未設定條件)"));
        return;
    }
    if (m_ctx.mapping.fieldCountBeyondBound())
        m_ctx.status.report(
            QStringLiteral("欄位總數超過 %1, 只讀入欄位 0..%1").arg(FieldMapping::kMaxField));

    const int lastField = m_ctx.mapping.fieldCount();
    const DbLogin login = m_ctx.login();
    std::function<QueryResult()> work = [login, sql, lastField] {
        return readRows(login, sql, lastField);
    };
    m_ctx.db.submit<QueryResult>(std::move(work), [this, key](const QueryResult& r) {
        m_key = key;
        apply(r);
    });
}

void OrderSearch::answer(const QString& text) {
    if (m_entry != Entry::MainWindow)
        return;
    m_ctx.status.report(m_ctx.settings.isExactlyOne(Setting::Language) ? ToSimplified(text) : text);
}

QString OrderSearch::alreadyNote(const QString& file) const {
    QStringList notes;
    const ReadAllJobsResult queued = readAllJobs(file);
    int same = 0;
    for (const QByteArray& r : queued.records)
        same += JobRecord::decode(r).OrderNo == m_key ? 1 : 0;
    if (same > 0)
        notes << QStringLiteral("已在%1中 %2 筆")
                     .arg(file.endsWith(QLatin1String("QUICK.txt")) ? QStringLiteral("配方清單")
                                                                    : QStringLiteral("計量佇列"))
                     .arg(same);
    const QDateTime now = m_ctx.clock.now();
    const RecordFile::Read month = RecordFile::readAll(
        QDir(m_ctx.workDir).filePath(historyFileName(now)), HistoryRecord::kLength);
    for (qsizetype at = 0; at + HistoryRecord::kLength <= month.bytes.size();
         at += HistoryRecord::kLength) {
        const HistoryRecord h = HistoryRecord::decode(month.bytes.mid(at, HistoryRecord::kLength));
        if (h.OrderNo == m_key && h.Completed.date() == now.date()) {
            notes << QStringLiteral("今日 %1 已計量過")
                         .arg(h.Completed.toString(QStringLiteral("HH:mm")));
            break;
        }
    }
    return notes.isEmpty()
               ? QString()
               : QStringLiteral(" (%1, 仍再排入)").arg(notes.join(QStringLiteral(", ")));
}

void OrderSearch::fail(const QString& reason) {
    // The fault monitor tells a fault once; every later scan that meets it is answered here.
    const FaultMonitor& f = m_ctx.faults.search;
    if (f.active() && f.reason() == reason)
        answer(QStringLiteral("單號 %1 未排入: %2").arg(m_key, reason));
    m_ctx.faults.search.fault(reason, m_ctx.clock.now());
    emit finished(false);
}

void OrderSearch::succeed(bool wrote) {
    m_ctx.faults.search.success();
    emit finished(wrote);
}

void OrderSearch::apply(const QueryResult& r) {
    if (!r.outcome) {
        fail(r.outcome.reason());
        return;
    }
    if (m_entry == Entry::SettingsWindow)
        emit rowsRead(m_key);
    if (r.rows.truncated)
        m_ctx.status.report(
            QStringLiteral("查詢結果超過 %1 行, 只讀入前 %1 行").arg(DbRows::kMaxRows));

    // The shared grid may show another search's or a polling step's rows by now: it is
    // cleared first, and the record is built from a grid of this query's rows alone.
    m_ctx.grid.reset();
    const QString mode = m_ctx.mapping.importMode();
    if (mode != QLatin1String("1") && mode != QLatin1String("2")) {
        m_ctx.grid.notify();
        answer(QStringLiteral("單號 %1 讀出 %2 行, 未寫入: 欄位對應的匯入方式不是 1 或 2")
                   .arg(m_key)
                   .arg(r.rows.rows.size()));
        succeed(false);
        return;
    }
    ImportBuilder::showRows(m_ctx.grid, r.rows);
    m_ctx.grid.notify();
    StagingGrid own(m_ctx.grid.cols());
    ImportBuilder::showRows(own, r.rows);
    if (mode == QLatin1String("1"))
        writeJob(own, r.rows);
    else
        writeDyeOrder(own, r.rows);
}

QString OrderSearch::refusedText(const QString& bad) const {
    return QStringLiteral("單號 %1 含有代碼頁 950 無法儲存的字元 %2, 未寫入")
        .arg(m_key, TextField::listed(bad));
}

void OrderSearch::writeJob(const StagingGrid& grid, const DbRows& rows) {
    const StationSettings& s = m_ctx.settings;
    const bool settingsWindow = m_entry == Entry::SettingsWindow;
    const ImportBuilder::JobBuild b = ImportBuilder::buildJob(
        grid, int(rows.rows.size()), rows.lastField,
        {.fixed = s.isSet(Option::DyeBarcode), .b01FromColumn15 = !settingsWindow}, m_ctx.mapping,
        OleDate::fromDateTime(m_ctx.clock.now()));
    if (!b.outcome)
        return fail(b.outcome.reason());
    if (b.rowsUsed == 0) {
        answer(QStringLiteral("找不到單號 %1").arg(m_key));
        return succeed(false);
    }
    for (const JobRecord& j : b.jobs)
        if (const QString bad = ImportBuilder::unstorable(j); !bad.isEmpty())
            return fail(refusedText(bad));
    if (const auto fault = checkOrder(b.jobs))
        return fail(QStringLiteral("單號 %1 %2, 未寫入").arg(shownValue(m_key), fault->text()));
    const bool queue = s.isSet(Option::DirectRun);
    QString file;
    if (settingsWindow) {
        const QString receive = m_ctx.receivePath();
        if (receive.isEmpty())
            return fail(QStringLiteral("未設定接收路徑, 單號 %1 未寫入").arg(m_key));
        file = QDir(receive).filePath(queue ? QStringLiteral("START_DISPEN.txt")
                                            : QStringLiteral("QUICK_A.txt"));
    } else {
        file =
            QDir(m_ctx.workDir)
                .filePath(queue ? QStringLiteral("START_DISPEN.txt") : QStringLiteral("QUICK.txt"));
    }
    const QString already = settingsWindow ? QString() : alreadyNote(file);
    // An order of more than ten lines: its records one after another.
    for (qsizetype k = 0; k < b.jobs.size(); ++k)
        if (Outcome o = AppendJob(file, b.jobs[k]); !o)
            return fail(k == 0 ? QStringLiteral("寫入失敗 %1").arg(o.reason())
                               : QStringLiteral("寫入失敗 %1 (單號 %2 只寫入 %3 / %4 筆)")
                                     .arg(o.reason(), m_key, QString::number(k),
                                          QString::number(b.jobs.size())));
    int lines = 0;
    for (const JobRecord& j : b.jobs)
        for (int i = 1; i <= JobRecord::kLines; ++i)
            lines += j.hasLine(i) ? 1 : 0;
    answer((queue ? QStringLiteral("單號 %1 已排入計量, %2 行 (%3)%4")
                  : QStringLiteral("單號 %1 已存入配方清單, %2 行 (%3), 請按排入計量%4"))
               .arg(m_key)
               .arg(lines)
               .arg(QFileInfo(file).fileName(), already));
    succeed(true);
}

void OrderSearch::writeDyeOrder(const StagingGrid& grid, const DbRows& rows) {
    const StationSettings& s = m_ctx.settings;
    const ImportBuilder::DyeOrderBuild b =
        ImportBuilder::buildDyeOrder(grid, int(rows.rows.size()), rows.lastField,
                                     s.isSet(Option::OldPowderBarcode), m_ctx.mapping);
    if (!b.outcome)
        return fail(b.outcome.reason());
    if (b.rowsUsed == 0) {
        answer(QStringLiteral("找不到單號 %1").arg(m_key));
        return succeed(false);
    }
    if (const QString bad = ImportBuilder::unstorable(b.record); !bad.isEmpty())
        return fail(refusedText(bad));
    const QString receive = m_ctx.receivePath();
    if (receive.isEmpty())
        return fail(QStringLiteral("未設定接收路徑, 單號 %1 未寫入").arg(m_key));
    const QDateTime now = m_ctx.clock.now();
    const bool monthly = s.isSet(Option::OldPowderBarcode) || s.isSet(Option::BarcodeScanIn);
    // The folder is checked before anything is written, so a missing one writes nothing.
    if (monthly && !QDir(m_ctx.monthlyFolder).exists())
        return fail(
            QStringLiteral("資料夾 %1 不存在, 單號 %2 未寫入").arg(m_ctx.monthlyFolder, m_key));
    JobRecord blankJob;
    blankJob.Created = OleDate::fromDateTime(now);
    if (Outcome o = AppendJob(QDir(receive).filePath(QStringLiteral("QUICK_A.txt")), blankJob); !o)
        return fail(QStringLiteral("寫入失敗 %1").arg(o.reason()));
    if (monthly) {
        const QString file =
            QDir(m_ctx.monthlyFolder).filePath(monthlyDyeOrderFileName(now.date()));
        if (Outcome o = RecordFile::append(file, DyeOrderRecord::kLength, b.record.encode()); !o)
            return fail(QStringLiteral("寫入失敗 %1").arg(o.reason()));
    }
    answer(QStringLiteral("單號 %1 已寫入染料訂單, %2 行").arg(m_key).arg(b.rowsUsed));
    succeed(true);
    if (b.linesLeftOut > 0)
        m_ctx.status.report(QStringLiteral("單號 %1 超過 %2 行, %3 行未匯入")
                                .arg(m_key, QString::number(DyeOrderRecord::kSlots),
                                     QString::number(b.linesLeftOut)));
}
