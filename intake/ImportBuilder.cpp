#include "intake/ImportBuilder.h"

#include "common/TextField.h"
#include "config/FieldMapping.h"
#include "intake/OrderDatabase.h"
#include "intake/StagingGrid.h"

#include <initializer_list>

namespace ImportBuilder {

namespace {

bool blank(const QString& t) {
    return TextField::trimSpaces(t).isEmpty();
}

// A column beyond the fields read is a configuration fault: the record would be built
// from cells that were never read.
Outcome checkColumns(std::initializer_list<int> columns, int lastField, const char* what) {
    for (int c : columns)
        if (c > lastField + 1)
            return Outcome::failure(QStringLiteral("%1: 第 %2 欄超過讀取的欄位 (欄位總數 %3)")
                                        .arg(QString::fromUtf8(what))
                                        .arg(c)
                                        .arg(lastField));
    return Outcome::success();
}

Outcome checkMapped(const FieldMapping& m, int first, int last, int skip, int lastField,
                    const char* what) {
    for (int e = first; e <= last; ++e)
        if (e != skip)
            if (Outcome o = checkColumns({m.column(e)}, lastField, what); !o)
                return o;
    return Outcome::success();
}

} // namespace

void showRows(StagingGrid& grid, const DbRows& rows) {
    const int n = int(rows.rows.size());
    grid.ensureCols(rows.lastField + 2);
    grid.setRows(n + 2);
    for (int i = 0; i <= rows.lastField; ++i)
        grid.set(0, i + 1, QString::number(i + 1));
    for (int r = 0; r <= n; ++r) {
        grid.set(r + 1, 0, QString::number(r + 1));
        if (r == n)
            break;
        const QStringList& row = rows.rows[r];
        for (int i = 0; i <= rows.lastField && i < row.size(); ++i)
            if (!blank(row[i]))
                grid.set(r + 1, i + 1, row[i]);
    }
}

JobBuild buildJob(const StagingGrid& grid, int rowCount, int lastField, JobLayout layout,
                  const FieldMapping& m, double created) {
    const bool fixedLayout = layout.fixed;
    JobBuild b;
    b.outcome = fixedLayout ? checkColumns({2, 4, 9, 12}, lastField, "固定欄位")
                            : checkMapped(m, 0, 10, 5, lastField, "欄位對應");
    if (!b.outcome)
        return b;
    const int keyColumn = fixedLayout ? 2 : m.column(FieldMapping::OrderNoColumn);
    for (int first = 1; first <= rowCount; first += JobRecord::kLines) {
        JobRecord j;
        j.Created = created;
        bool used = false;
        for (int R = first; R <= rowCount && R < first + JobRecord::kLines; ++R) {
            if (blank(grid.text(R, keyColumn)))
                continue;
            ++b.rowsUsed;
            used = true;
            const auto line = size_t(R - first + 1);
            if (fixedLayout) {
                j.OrderNo = grid.text(R, 2);
                j.OutputPos = grid.text(R, 4);
                j.WaterAdd.clear();
                j.Code[line] = grid.text(R, 9);
                j.Weight[line] = grid.text(R, 12);
                j.B01[line] = layout.b01FromColumn15 ? grid.text(R, 15) : QString();
                continue;
            }
            auto cell = [&](int entry, QString& field) {
                if (const int c = m.column(entry); c != 0)
                    field = grid.text(R, c);
            };
            cell(0, j.OrderNo);
            cell(1, j.OutputPos);
            cell(2, j.WaterAdd);
            cell(3, j.Code[line]);
            cell(4, j.Weight[line]);
            cell(6, j.B01[line]);
            cell(7, j.B02);
            cell(8, j.B03);
            cell(9, j.B04);
            cell(10, j.B05);
        }
        if (used)
            b.jobs << j;
    }
    return b;
}

DyeOrderBuild buildDyeOrder(const StagingGrid& grid, int rowCount, int lastField, bool fixedLayout,
                            const FieldMapping& m) {
    DyeOrderBuild b;
    b.outcome = fixedLayout ? checkColumns({2, 4, 5, 9, 11, 12}, lastField, "固定欄位")
                            : checkMapped(m, 40, 52, -1, lastField, "欄位對應");
    if (!b.outcome)
        return b;
    const int keyColumn = fixedLayout ? 2 : m.column(FieldMapping::DyeOrderNoColumn);
    DyeOrderRecord& d = b.record;
    for (int R = 1; R <= rowCount; ++R) {
        if (blank(grid.text(R, keyColumn)))
            continue;
        if (R > DyeOrderRecord::kSlots) {
            ++b.linesLeftOut;
            continue;
        }
        ++b.rowsUsed;
        const auto slot = size_t(R);
        if (fixedLayout) {
            d.OrderNo = grid.text(R, 2);
            d.Note1 = grid.text(R, 4);
            d.GoodsWeight = grid.text(R, 5);
            d.LiquorRatio = QStringLiteral("10");
            d.DyeCode[slot] = grid.text(R, 9);
            d.Recipe[slot] = grid.text(R, 11);
            d.Weight[slot] = grid.text(R, 12);
            continue;
        }
        QString* const fields[] = {&d.OrderNo,  &d.Note1,         &d.Note2,        &d.Note3,
                                   &d.Code,     &d.GoodsWeight,   &d.LiquorRatio,  &d.TotalWeight,
                                   &d.Material, &d.DyeCode[slot], &d.Recipe[slot], &d.Weight[slot],
                                   &d.Reserve};
        for (int e = 40; e <= 52; ++e)
            if (const int c = m.column(e); c != 0)
                *fields[e - 40] = grid.text(R, c);
    }
    return b;
}

// All texts of a record at once: TextField::unstorable lists each character once.
QString unstorable(const JobRecord& j) {
    QString all = j.OrderNo + j.OutputPos + j.WaterAdd + j.B02 + j.B03 + j.B04 + j.B05;
    for (int i = 1; i <= JobRecord::kLines; ++i)
        all += j.Code[size_t(i)] + j.Weight[size_t(i)] + j.B01[size_t(i)];
    return TextField::unstorable(all);
}

QString unstorable(const DyeOrderRecord& d) {
    QString all = d.OrderNo + d.Note1 + d.Note2 + d.Note3 + d.Code + d.GoodsWeight + d.LiquorRatio +
                  d.TotalWeight + d.Material + d.Reserve;
    for (int i = 1; i <= DyeOrderRecord::kSlots; ++i)
        all += d.DyeCode[size_t(i)] + d.Recipe[size_t(i)] + d.Weight[size_t(i)];
    return TextField::unstorable(all);
}

} // namespace ImportBuilder
