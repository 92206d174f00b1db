#pragma once
#include "intake/IntakeContext.h"

#include <QObject>

// "執行SQL" of the field-mapping window: runs the mapping's query text and shows fields
// 0..field count of every row in the window's result grid, numbered by column, so that the
// administrator can read off the column numbers.
class SqlWorkbench : public QObject {
    Q_OBJECT
public:
    SqlWorkbench(IntakeContext& context, StagingGrid& resultGrid, QObject* parent = nullptr);

    void run();

signals:
    void finished(bool ok);

private:
    IntakeContext& m_ctx;
    StagingGrid& m_grid;
};
