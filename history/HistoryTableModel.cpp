#include "history/HistoryTableModel.h"

#include "common/CsvCell.h"

#include "history/HistoryBrowser.h"

#include <QFutureWatcher>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <limits>
#include <map>
#include <numeric>

namespace {

// Rank of each element of `texts` in text order, equal texts equal ranks.
std::vector<qint64> ranks(const std::vector<QString>& texts) {
    std::vector<qint32> idx(texts.size());
    std::iota(idx.begin(), idx.end(), 0);
    std::sort(idx.begin(), idx.end(), [&](qint32 a, qint32 b) { return texts[a] < texts[b]; });
    std::vector<qint64> rank(texts.size());
    qint64 r = 0;
    for (size_t i = 0; i < idx.size(); ++i) {
        if (i > 0 && texts[idx[i]] != texts[idx[i - 1]])
            ++r;
        rank[idx[i]] = r;
    }
    return rank;
}

// A stable sort of `rows` by `keys` (one per row, in the same order): sixteen bits a pass
// from the least significant, leaving out the passes whose digit is the same for every
// row. A million rows take a few tens of milliseconds, where a comparison sort takes a
// hundred or more.
void radixSort(std::vector<qint32>& rows, std::vector<quint64>& keys) {
    const size_t n = rows.size();
    if (n < 2)
        return;
    std::vector<qint32> rowsTo(n);
    std::vector<quint64> keysTo(n);
    std::vector<size_t> start(65537);
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(start.begin(), start.end(), 0);
        for (quint64 k : keys)
            ++start[((k >> shift) & 0xFFFF) + 1];
        if (start[((keys[0] >> shift) & 0xFFFF) + 1] == n)
            continue;
        for (size_t d = 1; d < start.size(); ++d)
            start[d] += start[d - 1];
        for (size_t i = 0; i < n; ++i) {
            const size_t at = start[(keys[i] >> shift) & 0xFFFF]++;
            rowsTo[at] = rows[i];
            keysTo[at] = keys[i];
        }
        rows.swap(rowsTo);
        keys.swap(keysTo);
    }
}

std::vector<qint32> sortOrder(const HistorySet& s, int column, Qt::SortOrder direction);

} // namespace

namespace Csv {

QString field(const QString& text) {
    return cell(text);
}

QByteArray document(const QList<QStringList>& rows) {
    QString all;
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                all += QLatin1Char(',');
            all += field(row[i]);
        }
        all += QLatin1String("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + all.toUtf8();
}

} // namespace Csv

HistoryTableModel::HistoryTableModel(QObject* parent)
    : QAbstractTableModel(parent), m_headers{QStringLiteral("單號"),    QStringLiteral("時間"),
                                             QStringLiteral("桶號"),    QStringLiteral("行"),
                                             QStringLiteral("代碼"),    QStringLiteral("目標(g)"),
                                             QStringLiteral("實際(g)"), QStringLiteral("偏差(g)"),
                                             QStringLiteral("偏差(%)"), QStringLiteral("天平")},
      m_totalsHeaders{QStringLiteral("名次"), QStringLiteral("代碼"), QStringLiteral("用量(g)"),
                      QStringLiteral("用量(KG)")} {}

HistoryTableModel::~HistoryTableModel() = default;

void HistoryTableModel::setHeaders(const QStringList& columns, const QStringList& totals) {
    m_headers = columns;
    m_totalsHeaders = totals;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

void HistoryTableModel::setSet(std::shared_ptr<const HistorySet> set) {
    m_set = std::move(set);
    m_foundOrders.clear();
    m_order.clear();
    order();
}

void HistoryTableModel::setFoundRecords(const QString& month, const std::vector<qsizetype>& records,
                                        bool active) {
    if (!active && m_foundOrders.empty())
        return; // nothing changes
    m_foundOrders.clear();
    if (active && m_set) {
        const qint32 m = qint32(m_set->months.indexOf(month));
        QSet<qsizetype> wanted(records.begin(), records.end());
        m_foundOrders.resize(m_set->orders.size(), false);
        for (size_t o = 0; o < m_set->orders.size(); ++o)
            m_foundOrders[o] =
                m_set->orders[o].month == m && wanted.contains(m_set->orders[o].record);
    }
    refilter();
}

void HistoryTableModel::setCodeFilter(const QString& code) {
    m_code = code;
    refilter();
}

void HistoryTableModel::setTextFilter(const QString& text) {
    m_text = text;
    refilter();
}

// The text is looked for once per distinct code and once per order, not once per row.
void HistoryTableModel::refilter() {
    beginResetModel();
    m_rows.clear();
    if (m_set) {
        const HistorySet& s = *m_set;
        const QString text = m_text.trimmed();
        std::vector<char> codeOk(s.codes.size(), 1), codeHasText(s.codes.size(), 1);
        for (size_t c = 0; c < s.codes.size(); ++c) {
            if (!m_code.isEmpty())
                codeOk[c] = s.codes[c] == m_code;
            if (!text.isEmpty())
                codeHasText[c] = s.codes[c].contains(text, Qt::CaseInsensitive);
        }
        std::vector<char> orderHasText;
        if (!text.isEmpty()) {
            orderHasText.resize(s.orders.size());
            for (size_t o = 0; o < s.orders.size(); ++o)
                orderHasText[o] = s.orders[o].orderNo.contains(text, Qt::CaseInsensitive) ||
                                  s.orders[o].stamp.contains(text, Qt::CaseInsensitive);
        }
        m_rows.reserve(s.lines.size());
        for (size_t k = 0; k < s.lines.size(); ++k) {
            const size_t i = m_order.empty() ? k : size_t(m_order[k]);
            const HistoryLine& l = s.lines[i];
            if (!codeOk[size_t(l.code)])
                continue;
            if (!m_foundOrders.empty() && !m_foundOrders[size_t(l.order)])
                continue;
            if (!text.isEmpty() && !codeHasText[size_t(l.code)] && !orderHasText[size_t(l.order)])
                continue;
            m_rows.push_back(qint32(i));
        }
    }
    endResetModel();
}

void HistoryTableModel::sort(int column, Qt::SortOrder order) {
    m_sortColumn = column;
    m_sortOrder = order;
    this->order();
}

void HistoryTableModel::order() {
    const quint64 request = ++m_sortRequest;
    if (!m_set || m_sortColumn < 0 || m_sortColumn >= ColumnCount) {
        m_order.clear();
        refilter();
        return;
    }
    if (!m_background) {
        m_order = sortOrder(*m_set, m_sortColumn, m_sortOrder);
        refilter();
        return;
    }
    // A million lines take longer to sort than the timers may wait: the rows keep their
    // order until the new one is ready, and a later request overrides this one.
    ++m_sorting;
    auto* watcher = new QFutureWatcher<std::vector<qint32>>(this);
    connect(watcher, &QFutureWatcher<std::vector<qint32>>::finished, this,
            [this, watcher, request] {
                --m_sorting;
                watcher->deleteLater();
                if (request != m_sortRequest)
                    return;
                m_order = watcher->result();
                refilter();
            });
    watcher->setFuture(QtConcurrent::run([set = m_set, column = m_sortColumn, down = m_sortOrder] {
        return sortOrder(*set, column, down);
    }));
}

// Every line of the set gets a number that orders it by the sort column; a stable sort of
// the lines (in file order) by that number keeps equal keys in file order. Filters then
// pick from this order, so a change of filter never sorts again.
namespace {

std::vector<qint32> sortOrder(const HistorySet& s, int column, Qt::SortOrder direction) {
    const size_t n = s.lines.size();
    std::vector<quint64> key(n);
    // Signed numbers as unsigned ones in the same order.
    auto ordered = [](qint64 v) { return quint64(v) ^ (quint64(1) << 63); };
    using M = HistoryTableModel;
    switch (M::Column(column)) {
    case M::OrderNo:
    case M::Time: {
        const std::vector<qint32>& rank = column == M::OrderNo ? s.orderRank : s.stampRank;
        for (size_t i = 0; i < n; ++i)
            key[i] = quint64(rank[size_t(s.lines[i].order)]) << 4 | quint64(s.lines[i].line);
        break;
    }
    case M::Barrel:
    case M::Balance: {
        // Few distinct texts (a balance's name): rank them through an ordered map.
        const std::vector<QString>& texts = column == M::Barrel ? s.barrels : s.balances;
        std::map<QString, quint64> rank;
        for (const QString& t : texts)
            rank.emplace(t, 0);
        quint64 r = 0;
        for (auto& [text, k] : rank)
            k = ++r;
        for (size_t i = 0; i < texts.size() && i < n; ++i)
            key[i] = rank[texts[i]];
        break;
    }
    case M::Code: {
        const std::vector<qint64> rank = ranks(s.codes);
        for (size_t i = 0; i < n; ++i)
            key[i] = quint64(rank[size_t(s.lines[i].code)]);
        break;
    }
    case M::Line:
        for (size_t i = 0; i < n; ++i)
            key[i] = quint64(s.lines[i].line);
        break;
    case M::Target:
    case M::Actual:
    case M::DeviationGrams:
        for (size_t i = 0; i < n; ++i) {
            const HistoryLine& l = s.lines[i];
            key[i] = ordered((column == M::Target   ? l.target
                              : column == M::Actual ? l.actual
                                                    : l.deviation())
                                 .units());
        }
        break;
    case M::DeviationPercent:
        for (size_t i = 0; i < n; ++i) {
            Decimal p;
            // No percentage (a target of 0) sorts before every percentage.
            key[i] = s.lines[i].percent(p) ? ordered(p.units()) : 0;
        }
        break;
    case M::ColumnCount:
        break;
    }
    if (direction == Qt::DescendingOrder)
        for (quint64& k : key)
            k = ~k;
    std::vector<qint32> rows(n);
    std::iota(rows.begin(), rows.end(), 0);
    radixSort(rows, key);
    return rows;
}

} // namespace

int HistoryTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int HistoryTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString HistoryTableModel::cell(int row, int column) const {
    const HistoryLine& l = lineAt(row);
    const HistoryOrder& o = m_set->orders[size_t(l.order)];
    switch (Column(column)) {
    case OrderNo:
        return o.orderNo;
    case Time:
        return o.stamp;
    case Barrel:
        return m_set->barrel(size_t(m_rows[size_t(row)]));
    case Line:
        return QString::number(l.line);
    case Code:
        return m_set->codes[size_t(l.code)];
    case Target:
        return l.target.toString();
    case Actual:
        return l.actual.toString();
    case DeviationGrams:
        return l.deviation().toString();
    case DeviationPercent: {
        Decimal p;
        return l.percent(p) ? p.toString() : QString();
    }
    case Balance:
        return m_set->balance(size_t(m_rows[size_t(row)]));
    case ColumnCount:
        break;
    }
    return {};
}

QVariant HistoryTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() == Line || index.column() >= Target;
        return number && index.column() != Balance ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                   : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_headers.size() ? m_headers[section] : QString();
    return section + 1;
}

QStringList HistoryTableModel::codes() const {
    QStringList out;
    if (m_set)
        for (const QString& c : m_set->codes)
            out << c;
    out.sort();
    return out;
}

std::vector<HistoryTableModel::Usage> HistoryTableModel::totals() const {
    std::vector<Usage> out;
    if (!m_set)
        return out;
    std::vector<Decimal> sum(m_set->codes.size());
    std::vector<char> met(m_set->codes.size(), 0);
    std::vector<qint32> order; // codes in the order first met
    for (qint32 r : m_rows) {
        const HistoryLine& l = m_set->lines[size_t(r)];
        // Lines with a blank code are not usage, as in the browser's totals.
        if (m_set->codes[size_t(l.code)].isEmpty())
            continue;
        if (!met[size_t(l.code)]) {
            met[size_t(l.code)] = 1;
            order.push_back(l.code);
        }
        sum[size_t(l.code)] += l.actual;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](qint32 a, qint32 b) { return sum[size_t(a)] > sum[size_t(b)]; });
    out.reserve(order.size());
    for (qint32 c : order)
        out.push_back({m_set->codes[size_t(c)], sum[size_t(c)]});
    return out;
}

std::vector<HistoryTableModel::DayUsage> HistoryTableModel::dailyUsage() const {
    std::vector<DayUsage> out;
    if (!m_set)
        return out;
    std::map<qint32, Decimal> byDate;
    for (qint32 r : m_rows) {
        const HistoryLine& l = m_set->lines[size_t(r)];
        const qint32 d = m_set->orders[size_t(l.order)].date;
        if (d != 0 && !m_set->codes[size_t(l.code)].isEmpty())
            byDate[d] += l.actual;
    }
    auto toDate = [](qint32 d) { return QDate(d / 10000, d / 100 % 100, d % 100); };
    QDate first, last;
    for (const auto& [d, g] : byDate)
        if (toDate(d).isValid()) {
            if (!first.isValid())
                first = toDate(d);
            last = toDate(d);
        }
    for (QDate day = first; first.isValid() && day <= last; day = day.addDays(1)) {
        const auto it = byDate.find(day.year() * 10000 + day.month() * 100 + day.day());
        out.push_back({day, it == byDate.end() ? Decimal() : it->second});
    }
    return out;
}

QByteArray HistoryTableModel::tableCsv() const {
    QList<QStringList> rows;
    rows.reserve(rowCount() + 1);
    rows << m_headers;
    for (int r = 0; r < rowCount(); ++r) {
        QStringList row;
        row.reserve(ColumnCount);
        for (int c = 0; c < ColumnCount; ++c)
            row << cell(r, c);
        rows << row;
    }
    return Csv::document(rows);
}

QByteArray HistoryTableModel::totalsCsv() const {
    QList<QStringList> rows{m_totalsHeaders};
    int rank = 0;
    for (const Usage& u : totals())
        rows << QStringList{QString::number(++rank), u.code, u.grams.toString(),
                            HistoryBrowser::kilograms(u.grams)};
    return Csv::document(rows);
}
