#include "intake/SqlWorkbench.h"

SqlWorkbench::SqlWorkbench(IntakeContext& context, StagingGrid& resultGrid, QObject* parent)
    : QObject(parent), m_ctx(context), m_grid(resultGrid) {}

void SqlWorkbench::run() {
    m_grid.reset();
    m_grid.notify();
    const QString sql = TextField::trimSpaces(m_ctx.mapping.query());
    if (sql.isEmpty()) {
        m_ctx.faults.sql.fault(QStringLiteral("沒有查詢"), m_ctx.clock.now());
        emit finished(false);
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
    m_ctx.db.submit<QueryResult>(std::move(work), [this](const QueryResult& r) {
        if (!r.outcome) {
            m_ctx.faults.sql.fault(r.outcome.reason(), m_ctx.clock.now());
            emit finished(false);
            return;
        }
        if (r.rows.truncated)
            m_ctx.status.report(
                QStringLiteral("查詢結果超過 %1 行, 只顯示前 %1 行").arg(DbRows::kMaxRows));
        // Column 0 stays empty in this grid; the grid is widened to the fields read. It is
        // cleared here too: an earlier run's rows may have arrived since the click.
        const int n = int(r.rows.rows.size());
        m_grid.reset();
        m_grid.ensureCols(r.rows.lastField + 2);
        m_grid.setRows(n + 2);
        for (int f = 0; f <= r.rows.lastField; ++f)
            m_grid.set(0, f + 1, QString::number(f + 1));
        for (int row = 0; row < n; ++row)
            for (int f = 0; f <= r.rows.lastField; ++f)
                if (const QString& t = r.rows.rows[row][f]; !TextField::trimSpaces(t).isEmpty())
                    m_grid.set(row + 1, f + 1, t);
        m_grid.notify();
        m_ctx.faults.sql.success();
        emit finished(true);
    });
}
