#include "history/HistoryTableModel.h"

#include "history/HistoryBrowser.h"

#include <QSet>
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

} // namespace

namespace Csv {

QString field(const QString& text) {
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
                       text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    if (!quote)
        return text;
    QString t = text;
    t.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
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
    refilter();
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
        for (size_t i = 0; i < s.lines.size(); ++i) {
            const HistoryLine& l = s.lines[i];
            if (!codeOk[size_t(l.code)])
                continue;
            if (!m_foundOrders.empty() && !m_foundOrders[size_t(l.order)])
                continue;
            if (!text.isEmpty() && !codeHasText[size_t(l.code)] && !orderHasText[size_t(l.order)])
                continue;
            m_rows.push_back(qint32(i));
        }
        applySort();
    }
    endResetModel();
}

void HistoryTableModel::sort(int column, Qt::SortOrder order) {
    m_sortColumn = column;
    m_sortOrder = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    if (m_set) {
        // Back to file order first, so that equal keys always keep it.
        std::sort(m_rows.begin(), m_rows.end());
        applySort();
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// Each row gets a number that orders it by the sort column; a stable sort of the rows (in
// file order) by that number keeps equal keys in file order.
void HistoryTableModel::applySort() {
    if (m_sortColumn < 0 || m_sortColumn >= ColumnCount || !m_set)
        return;
    const HistorySet& s = *m_set;
    std::vector<qint64> key(s.lines.size());
    auto byOrder = [&](auto orderKey) {
        for (qint32 r : m_rows)
            key[size_t(r)] =
                orderKey(s.orders[size_t(s.lines[size_t(r)].order)]) * 16 + s.lines[size_t(r)].line;
    };
    switch (Column(m_sortColumn)) {
    case OrderNo:
    case Time: {
        std::vector<QString> texts(s.orders.size());
        for (size_t o = 0; o < s.orders.size(); ++o)
            texts[o] = m_sortColumn == OrderNo ? s.orders[o].orderNo : s.orders[o].stamp;
        const std::vector<qint64> rank = ranks(texts);
        byOrder([&](const HistoryOrder& o) { return rank[size_t(&o - s.orders.data())]; });
        break;
    }
    case Barrel:
    case Balance: {
        // Few distinct texts (a balance's name): rank them through an ordered map.
        const std::vector<QString>& texts = m_sortColumn == Barrel ? s.barrels : s.balances;
        std::map<QString, qint64> rank;
        for (qint32 r : m_rows)
            if (size_t(r) < texts.size())
                rank.emplace(texts[size_t(r)], 0);
        qint64 n = 0;
        for (auto& [text, k] : rank)
            k = ++n;
        for (qint32 r : m_rows)
            key[size_t(r)] = size_t(r) < texts.size() ? rank[texts[size_t(r)]] : 0;
        break;
    }
    case Code: {
        const std::vector<qint64> rank = ranks(s.codes);
        for (qint32 r : m_rows)
            key[size_t(r)] = rank[size_t(s.lines[size_t(r)].code)];
        break;
    }
    case Line:
        for (qint32 r : m_rows)
            key[size_t(r)] = s.lines[size_t(r)].line;
        break;
    case Target:
    case Actual:
    case DeviationGrams:
        for (qint32 r : m_rows) {
            const HistoryLine& l = s.lines[size_t(r)];
            key[size_t(r)] = (m_sortColumn == Target   ? l.target
                              : m_sortColumn == Actual ? l.actual
                                                       : l.deviation())
                                 .units();
        }
        break;
    case DeviationPercent:
        for (qint32 r : m_rows) {
            Decimal p;
            // No percentage (a target of 0) sorts before every percentage.
            key[size_t(r)] =
                s.lines[size_t(r)].percent(p) ? p.units() : std::numeric_limits<qint64>::min();
        }
        break;
    case ColumnCount:
        return;
    }
    const bool down = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](qint32 a, qint32 b) {
        return down ? key[size_t(a)] > key[size_t(b)] : key[size_t(a)] < key[size_t(b)];
    });
}

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
