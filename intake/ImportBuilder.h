#pragma once
#include "common/Outcome.h"
#include "intake/DyeOrderRecord.h"
#include "jobs/JobRecord.h"

class FieldMapping;
class StagingGrid;
struct DbRows;

// Turning the rows of an order into the staging grid and into one record.
namespace ImportBuilder {

// Shows rows in the grid: a header row with the column numbers 1..lastField + 1, the
// rows numbered from 1 in column 0, field i of a row in column i + 1 (only when its
// trimmed text is not blank), and one numbered blank row after the last. The grid is
// widened to the fields read, never written past its columns.
void showRows(StagingGrid& grid, const DbRows& rows);

struct JobBuild {
    // Grid rows 1..10 make the first record, 11..20 the next, and so on (a record whose
    // rows all fail the row filter is left out): an order of more than ten lines becomes
    // consecutive records, in line order.
    QList<JobRecord> jobs;
    int rowsUsed = 0;                     // rows that passed the row filter and were built from
    Outcome outcome = Outcome::success(); // failure: a column beyond the fields read
};

struct DyeOrderBuild {
    DyeOrderRecord record;
    int rowsUsed = 0;
    int linesLeftOut = 0;
    Outcome outcome = Outcome::success();
};

// Which columns a job record is built from.
struct JobLayout {
    // The fixed layout takes the order number from column 2, the output position from 4,
    // the code from 9 and the weight from 12; otherwise the columns of mapping entries 0..10.
    bool fixed = false;
    // The fixed layout only: B01 from column 15 (blank when the grid has no such column).
    bool b01FromColumn15 = false;
};

// Grid rows 1..rowCount hold the order's rows; row R is line R - 10k of record k.
JobBuild buildJob(const StagingGrid& grid, int rowCount, int lastField, JobLayout layout,
                  const FieldMapping& mapping, double created);

// The fixed layout: order number 2, note 1 4, goods weight 5, liquor ratio "10", dye code
// 9, recipe 11, weight 12; the mapped layout: mapping entries 40..52.
DyeOrderBuild buildDyeOrder(const StagingGrid& grid, int rowCount, int lastField, bool fixedLayout,
                            const FieldMapping& mapping);

// The characters of a record's texts that code page 950 cannot hold (empty: none).
QString unstorable(const JobRecord& job);
QString unstorable(const DyeOrderRecord& record);

} // namespace ImportBuilder
