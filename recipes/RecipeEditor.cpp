#include "recipes/RecipeEditor.h"

#include "common/StatusLine.h"
#include "common/TextField.h"
#include "jobs/JobCheck.h"
#include "jobs/JobFile.h"
#include "jobs/JobRecord.h"
#include "jobs/UndoStore.h"
#include "weighing/Startup.h"

namespace {

// The parts of a job record that the editor does not show, by offset and width.
constexpr int kCreated = 370, kCreatedWidth = 8;
constexpr int kB01 = 378, kB01Width = 50;
constexpr int kB02toB05 = 928, kB02toB05Width = 530;

void copyField(QByteArray& to, const QByteArray& from, int offset, int width) {
    to.replace(offset, width, from.constData() + offset, width);
}

} // namespace

RecipeEditor::RecipeEditor(QString quickFile, QString twinFile, StatusLine& status, QObject* parent)
    : QObject(parent), m_quick(std::move(quickFile)), m_twin(std::move(twinFile)),
      m_status(status) {}

void RecipeEditor::load() {
    clearBoxes();
    if (Outcome o = refill(); !o)
        m_status.report(o.reason());
}

Outcome RecipeEditor::refill() {
    const RecipeListResult r = readRecipeList(m_quick);
    if (!r.outcome)
        return Outcome::failure(QStringLiteral("配方檔讀取失敗: %1").arg(r.outcome.reason()));
    entries = r.entries;
    records = r.records;
    ++m_listVersion;
    emit listChanged();
    return Outcome::success();
}

void RecipeEditor::clearBoxes() {
    Text2.clear();
    Combo1.clear();
    Text3.clear();
    for (QString& t : Text1)
        t.clear();
    emit boxesChanged();
}

void RecipeEditor::refuse(const QString& why) {
    m_status.report(why);
}

QString RecipeEditor::whyNotStorable() const {
    const JobRecord typed = jobFromBoxes();
    if (TextField::trimSpaces(typed.OrderNo).isEmpty())
        return QStringLiteral("單號空白, 未存檔");
    QString all = Text2 + Combo1 + Text3;
    for (const QString& t : Text1)
        all += t;
    if (const QString bad = TextField::unstorable(all); !bad.isEmpty())
        return QStringLiteral("含有代碼頁 950 無法儲存的字元 %1, 未存檔")
            .arg(TextField::listed(bad));
    // The same check as every way into the queue: a weight the sequencer could not pour
    // (0, not a plain amount, too long for its field) or a text that would be cut.
    if (const auto fault = checkJob(typed))
        return fault->text() + QStringLiteral(", 未存檔");
    return QString();
}

JobRecord RecipeEditor::jobFromBoxes() const {
    JobRecord j;
    j.OrderNo = TextField::trimSpaces(Text2);
    j.OutputPos = Combo1;
    j.WaterAdd = TextField::trimSpaces(Text3);
    for (int i = 1; i <= kLines; ++i) {
        j.Code[size_t(i)] = Text1[size_t(i - 1)];
        j.Weight[size_t(i)] = Text1[size_t(i + kLines - 1)];
    }
    return j;
}

QByteArray RecipeEditor::recordFromBoxes() const {
    return jobFromBoxes().encode();
}

void RecipeEditor::written(const Outcome& o, const QString& action) {
    if (!o)
        return refuse(QStringLiteral("%1失敗: %2").arg(action, o.reason()));
    emit storeChanged();
    // The store is written; a list that cannot be read back is said, and the boxes are
    // cleared all the same.
    if (Outcome listed = refill(); !listed)
        m_status.report(listed.reason());
    clearBoxes();
}

qint64 RecipeEditor::checkedRecord(int p, const QString& entry, const QString& action) {
    const JobCountResult n = JobCount(m_quick);
    if (!n.outcome) {
        m_status.report(QStringLiteral("%1失敗: %2").arg(action, n.outcome.reason()));
        return 0;
    }
    const qint64 k = n.count - p;
    if (k >= 1 && p < records.size() && entries.value(p) == entry) {
        const ReadJobResult r = ReadJob(m_quick, k);
        if (!r.outcome) {
            m_status.report(QStringLiteral("%1失敗: %2").arg(action, r.outcome.reason()));
            return 0;
        }
        // The whole record: two recipes may share an order number (an import of the
        // same order), and the list must never address the other one.
        if (r.bytes == records.at(p))
            return k;
    }
    if (Outcome o = refill(); !o)
        m_status.report(o.reason());
    else
        m_status.report(QStringLiteral("配方檔已變更, 清單已更新, 請重新選擇 (未%1)").arg(action));
    return 0;
}

void RecipeEditor::save() {
    const QByteArray record = recordFromBoxes();
    if (const QString why = whyNotStorable(); !why.isEmpty())
        return refuse(why);
    return written(appendJobBytes(m_quick, record), QStringLiteral("存檔"));
}

void RecipeEditor::modify(int p, const QString& entry) {
    if (const QString why = whyNotStorable(); !why.isEmpty())
        return refuse(why);
    if (p < 0) // nothing selected: the recipe is appended as by save
        return written(appendJobBytes(m_quick, recordFromBoxes()), QStringLiteral("修改"));
    const qint64 k = checkedRecord(p, entry, QStringLiteral("修改"));
    if (k == 0)
        return; // said by checkedRecord
    const ReadJobResult stored = ReadJob(m_quick, k);
    if (!stored.outcome)
        return refuse(QStringLiteral("修改失敗: %1").arg(stored.outcome.reason()));

    QByteArray record = recordFromBoxes();
    const JobRecord typed = JobRecord::decode(record);
    copyField(record, stored.bytes, kCreated, kCreatedWidth);
    copyField(record, stored.bytes, kB01, kB01Width); // element 0, unused
    for (int i = 1; i <= kLines; ++i)
        if (typed.Code[size_t(i)] == stored.job.Code[size_t(i)])
            copyField(record, stored.bytes, kB01 + kB01Width * i, kB01Width);
    copyField(record, stored.bytes, kB02toB05, kB02toB05Width);
    return written(writeJobBytes(m_quick, k, record), QStringLiteral("修改"));
}

void RecipeEditor::remove(int p, const QString& entry) {
    if (p < 0)
        return;
    const qint64 k = checkedRecord(p, entry, QStringLiteral("刪除"));
    if (k == 0)
        return; // said by checkedRecord
    if (m_undo) {
        const ReadJobResult r = ReadJob(m_quick, k);
        if (!r.outcome)
            return refuse(QStringLiteral("刪除失敗: %1").arg(r.outcome.reason()));
        if (Outcome o = m_undo->keep(m_quick, {r.bytes},
                                     QStringLiteral("刪除配方 單號 %1").arg(r.job.OrderNo));
            !o)
            return refuse(QStringLiteral("刪除失敗: %1").arg(o.reason()));
    }
    const Outcome removed = RemoveJob(m_quick, m_twin, k);
    if (m_undo)
        m_undo->settle(removed.ok());
    return written(removed, QStringLiteral("刪除"));
}

void RecipeEditor::clear() {
    if (Outcome o = refill(); !o)
        m_status.report(o.reason());
    clearBoxes();
}

void RecipeEditor::click(int p, const QString& entry, quint64 version) {
    if (p < 0)
        return;
    if (version != m_listVersion)
        return refuse(QStringLiteral("配方清單已更新, 請重新選擇"));
    return click(p, entry);
}

void RecipeEditor::click(int p, const QString& entry) {
    if (p < 0)
        return;
    if (Check5)
        return remove(p, entry);
    const qint64 k = checkedRecord(p, entry, QStringLiteral("顯示"));
    if (k == 0)
        return; // said by checkedRecord
    const ReadJobResult r = ReadJob(m_quick, k);
    if (!r.outcome)
        return refuse(QStringLiteral("配方讀取失敗: %1").arg(r.outcome.reason()));
    for (QString& t : Text1)
        t.clear();
    Text2 = r.job.OrderNo;
    Combo1 = r.job.OutputPos;
    Text3 = r.job.WaterAdd;
    for (int i = 1; i <= kLines; ++i)
        if (r.job.hasLine(i)) {
            Text1[size_t(i - 1)] = r.job.Code[size_t(i)];
            Text1[size_t(i + kLines - 1)] = r.job.Weight[size_t(i)];
        }
    emit boxesChanged();
}

int RecipeEditor::enterMovesTo(int box) {
    if (box == kText2)
        return 0;
    if (box >= 0 && box < kLines)
        return box + kLines;
    if (box >= kLines && box < 2 * kLines - 1)
        return box - kLines + 1;
    return -1;
}
