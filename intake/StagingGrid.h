#pragma once
#include <QList>
#include <QObject>
#include <QStringList>

// The content of a result grid (the staging grid MSFlexGrid1, the result grid of the
// field-mapping window): a number of rows and columns and the text of each cell. The
// window shows it; `changed` tells it to redraw. A write outside the grid is ignored.
class StagingGrid : public QObject {
    Q_OBJECT
public:
    explicit StagingGrid(int cols = 2, QObject* parent = nullptr) : QObject(parent) {
        setSize(1, cols);
    }

    int rows() const { return int(m_cells.size()); }
    int cols() const { return m_cols; }
    // Every row, header row 0 first; each row holds cols() cells.
    const QList<QStringList>& cells() const { return m_cells; }
    QString text(int r, int c) const {
        return r >= 0 && r < rows() && c >= 0 && c < m_cols ? m_cells[r][c] : QString();
    }

    void setSize(int rows, int cols) {
        m_cols = cols < 1 ? 1 : cols;
        m_cells.resize(rows < 1 ? 1 : rows);
        for (QStringList& row : m_cells) {
            row.resize(m_cols);
        }
    }
    void setRows(int n) { setSize(n, m_cols); }
    // Widens the grid to `cols` columns when it is narrower (it never shrinks).
    void ensureCols(int cols) {
        if (cols > m_cols)
            setSize(rows(), cols);
    }
    // Back to the header row only, cells cleared.
    void reset() {
        m_cells.clear();
        setSize(1, m_cols);
    }
    void set(int r, int c, const QString& t) {
        if (r >= 0 && r < rows() && c >= 0 && c < m_cols)
            m_cells[r][c] = t;
    }
    void notify() { emit changed(); }

signals:
    void changed();

private:
    QList<QStringList> m_cells;
    int m_cols = 1;
};
