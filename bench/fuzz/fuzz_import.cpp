// Rows of an order as the order database returns them (any texts), turned into the
// staging grid, a job record and a dye order record under any field mapping. The input's
// first 64 bytes are the mapping's column numbers; the rest are rows (lines) of fields
// (separated by tabs).
#include "FuzzSupport.h"
#include "config/FieldMapping.h"
#include "intake/ImportBuilder.h"
#include "intake/OrderDatabase.h"
#include "intake/StagingGrid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 64)
        return 0;
    FieldMapping mapping;
    for (int i = 0; i < 60; ++i)
        mapping.setEntry(i, QString::number(data[i] % 24));
    mapping.setText(0, QString::number(data[60]));
    mapping.setText(1, QString::number(data[61] % 3));

    DbRows rows;
    const QList<QByteArray> lines = fuzz::bytes(data + 64, size - 64).split('\n');
    for (const QByteArray& line : lines) {
        if (rows.rows.size() >= 50)
            break;
        QStringList fields;
        for (const QByteArray& f : line.split('\t'))
            fields << QString::fromUtf8(f);
        rows.lastField = qMax(rows.lastField, int(fields.size()) - 1);
        rows.rows << fields;
    }
    StagingGrid grid;
    ImportBuilder::showRows(grid, rows);
    FUZZ_CHECK(grid.rows() >= int(rows.rows.size()) + 1);
    const int rowCount = int(rows.rows.size());
    for (bool fixed : {true, false}) {
        const ImportBuilder::JobBuild job = ImportBuilder::buildJob(
            grid, rowCount, rows.lastField, {fixed, bool(data[62] & 1)}, mapping, 45000.25);
        if (job.outcome) {
            FUZZ_CHECK(job.jobs.size() <= (rowCount + JobRecord::kLines - 1) / JobRecord::kLines);
            for (const JobRecord& j : job.jobs) {
                const QByteArray bytes = j.encode();
                FUZZ_CHECK(bytes.size() == JobRecord::kLength && bytes.endsWith("\r\n"));
            }
        }
        const ImportBuilder::DyeOrderBuild order =
            ImportBuilder::buildDyeOrder(grid, rowCount, rows.lastField, fixed, mapping);
        if (order.outcome) {
            const QByteArray bytes = order.record.encode();
            FUZZ_CHECK(bytes.size() == DyeOrderRecord::kLength && bytes.endsWith("\r\n"));
        }
    }
    return 0;
}
