#pragma once
#include <QList>
#include <QStringList>

class QTableWidget;

// Shows the cells of a result grid in a table control, row by row. Header row 0 is an
// ordinary row: the grids of the station show their column numbers in it.
void showGridCells(QTableWidget& table, const QList<QStringList>& cells);
