#include "config/Form2Grid.h"

#include <QTableWidget>

void showGridCells(QTableWidget& table, const QList<QStringList>& cells) {
    const int rows = int(cells.size());
    const int cols = rows > 0 ? int(cells.first().size()) : 0;
    table.setRowCount(rows);
    table.setColumnCount(cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            QTableWidgetItem* item = table.item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                table.setItem(r, c, item);
            }
            item->setText(c < cells[r].size() ? cells[r][c] : QString());
        }
}
