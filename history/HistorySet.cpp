#include "history/HistorySet.h"

#include "history/HistoryRecord.h"
#include "history/LineDetails.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>
#include <numeric>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unordered_map>

namespace {

using namespace HistoryLayout;

// A field of the record with blanks removed at both ends, a view into the record.
Field fieldAt(const char* record, int offset, int width) {
    return field(record, offset, width).trimmed();
}

// The lenient number of a field. Only ASCII digits, signs and points count, so the
// bytes can be widened one by one without decoding the code page.
Decimal number(Field f) {
    char16_t buf[kTargetWidth];
    const int n = std::min(f.n, kTargetWidth);
    for (int i = 0; i < n; ++i)
        buf[i] = char16_t(static_cast<unsigned char>(f.p[i]));
    return Decimal::parse(QStringView(buf, n));
}

// yyyymmdd of a stamp "2024/03/02 ...", 0 when it holds no date there.
qint32 stampDate(Field s) {
    if (s.n < 10 || s.p[4] != '/' || s.p[7] != '/')
        return 0;
    qint32 v = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (s.p[i] < '0' || s.p[i] > '9')
            return 0;
        v = v * 10 + (s.p[i] - '0');
    }
    return v;
}

struct ByteHash {
    using is_transparent = void;
    size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
};

// Decoding months is background work: its threads give way to the user-interface thread,
// whose timers drive the balances and the sequencer. On Linux the nice value belongs to
// the thread; the threads of this pool do nothing else, so it is set once and kept.
void yieldToTheWindow() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        setpriority(PRIO_PROCESS, 0, 10);
}

// The months' own pool: a loader and a decoder per core.
QThreadPool& decodePool() {
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(QThread::idealThreadCount() + 1);
        return true;
    }();
    Q_UNUSED(sized);
    return pool;
}

// One month file decoded on its own, its codes numbered within it.
struct Month {
    QString name;
    QString failure;
    std::vector<HistoryOrder> orders;
    std::vector<HistoryLine> lines;
    std::vector<QString> codes;
};

void decodeMonth(const QString& folder, Month& m) {
    yieldToTheWindow();
    const QString& name = m.name;
    const QString path = QDir(folder).filePath(name);
    if (QFileInfo(path).isDir()) {
        m.failure = QStringLiteral("%1: 是資料夾,不是歷史檔").arg(name);
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        m.failure = QStringLiteral("%1: %2").arg(name, f.errorString());
        return;
    }
    const qint64 count = f.size() / kLength;
    m.orders.reserve(size_t(count));
    m.lines.reserve(size_t(count) * 6);
    std::unordered_map<std::string, qint32, ByteHash, std::equal_to<>> codeOfBytes;
    // Read a thousand records at a time into one buffer: no copy of the whole file in
    // memory, and no page fault per page as a mapping would take.
    constexpr qint64 kChunk = 1000;
    QByteArray buffer(kChunk * kLength, Qt::Uninitialized);
    for (qint64 done = 0; done < count;) {
        const qint64 want = std::min(kChunk, count - done) * kLength;
        if (f.read(buffer.data(), want) != want) {
            m.failure = QStringLiteral("%1: %2").arg(name, f.errorString());
            return;
        }
        for (qint64 off = 0; off < want; off += kLength) {
            const char* r = buffer.constData() + off;
            const Field stamp = fieldAt(r, kStampText, kStampTextWidth);
            const qint32 order = qint32(m.orders.size());
            m.orders.push_back({fieldAt(r, kOrderNo, kOrderNoWidth).text(), stamp.text(),
                                stampDate(stamp), 0, qint32(++done)});
            for (int i = 1; i <= kLines; ++i) {
                const Field code = fieldAt(r, HistoryLayout::code(i), kCodeWidth);
                const Field target = fieldAt(r, HistoryLayout::target(i), kTargetWidth);
                const Field actual = fieldAt(r, HistoryLayout::actual(i), kActualWidth);
                if (code.empty() && target.empty() && actual.empty())
                    continue;
                auto it = codeOfBytes.find(code.view());
                if (it == codeOfBytes.end()) {
                    it =
                        codeOfBytes.emplace(std::string(code.view()), qint32(m.codes.size())).first;
                    m.codes.push_back(code.text());
                }
                m.lines.push_back({order, it->second, i, number(target), number(actual)});
            }
        }
    }
    return;
}

// The place of each text in text order, equal texts in equal places.
template <typename Text> std::vector<qint32> ranks(size_t n, Text text) {
    std::vector<qint32> idx(n);
    std::iota(idx.begin(), idx.end(), 0);
    std::sort(idx.begin(), idx.end(), [&](qint32 a, qint32 b) { return text(a) < text(b); });
    std::vector<qint32> rank(n);
    qint32 r = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && text(idx[i]) != text(idx[i - 1]))
            ++r;
        rank[size_t(idx[i])] = r;
    }
    return rank;
}

} // namespace

bool HistoryLine::percent(Decimal& out) const {
    if (target.isZero())
        return false;
    // Hundredths of a per cent: deviation * 10000 / target, in 128 bits so that no weight
    // overflows, rounded half away from zero.
    const __int128 num = __int128(deviation().units()) * 10000;
    const __int128 den = target.units();
    __int128 q = num / den;
    const __int128 r = num % den;
    if (r != 0 && (r < 0 ? -r : r) * 2 >= (den < 0 ? -den : den))
        q += ((num < 0) != (den < 0)) ? -1 : 1;
    out = Decimal::fromUnits(qint64(q) * (Decimal::kScale / 100));
    return true;
}

HistorySet HistorySet::load(const QString& folder, const QStringList& names) {
    // The months are decoded side by side, then joined in the given order.
    std::vector<Month> decoded(size_t(names.size()));
    for (size_t i = 0; i < decoded.size(); ++i)
        decoded[i].name = names[qsizetype(i)];
    QtConcurrent::blockingMap(&decodePool(), decoded,
                              [&folder](Month& m) { decodeMonth(folder, m); });
    HistorySet set;
    set.folder = folder;
    size_t orders = 0, lines = 0;
    for (const Month& m : decoded) {
        orders += m.orders.size();
        lines += m.lines.size();
    }
    set.orders.reserve(orders);
    set.lines.reserve(lines);
    QHash<QString, qint32> codeOfText; // codes compare as text across months
    for (Month& m : decoded) {
        if (!m.failure.isNull()) {
            set.failures << m.failure;
            continue;
        }
        const qint32 month = qint32(set.months.size());
        set.months << m.name;
        std::vector<qint32> code(m.codes.size());
        for (size_t c = 0; c < m.codes.size(); ++c) {
            const auto it = codeOfText.constFind(m.codes[c]);
            if (it != codeOfText.cend()) {
                code[c] = *it;
            } else {
                code[c] = qint32(set.codes.size());
                codeOfText.insert(m.codes[c], code[c]);
                set.codes.push_back(m.codes[c]);
            }
        }
        const qint32 firstOrder = qint32(set.orders.size());
        for (HistoryOrder& o : m.orders) {
            o.month = month;
            set.orders.push_back(std::move(o));
        }
        m.orders = {};
        for (HistoryLine l : m.lines) {
            l.order += firstOrder;
            l.code = code[size_t(l.code)];
            set.lines.push_back(l);
        }
    }
    set.orderRank = ranks(set.orders.size(), [&](qint32 o) -> const QString& {
        return set.orders[size_t(o)].orderNo;
    });
    set.stampRank = ranks(set.orders.size(),
                          [&](qint32 o) -> const QString& { return set.orders[size_t(o)].stamp; });
    return set;
}

QFuture<std::shared_ptr<const HistorySet>>
HistorySet::loadInBackground(const QString& folder, const QStringList& names,
                             std::shared_ptr<const LineDetails> details) {
    return QtConcurrent::run(&decodePool(), [folder, names, details] {
        yieldToTheWindow();
        auto set = std::make_shared<HistorySet>(load(folder, names));
        if (details)
            details->fill(*set);
        return std::shared_ptr<const HistorySet>(std::move(set));
    });
}

QStringList HistorySet::range(const QStringList& names, const QString& from, const QString& to) {
    QString lo = from, hi = to;
    if (hi < lo)
        std::swap(lo, hi);
    QStringList out;
    for (const QString& n : names)
        if (MonthFile::month(n).isValid() && n >= lo && n <= hi)
            out << n;
    out.sort();
    return out;
}

QByteArray HistorySet::recordBytes(qint32 order) const {
    if (order < 0 || size_t(order) >= orders.size())
        return {};
    const HistoryOrder& o = orders[size_t(order)];
    QFile f(QDir(folder).filePath(months.at(o.month)));
    if (!f.open(QIODevice::ReadOnly) || !f.seek(qint64(o.record - 1) * kLength))
        return {};
    const QByteArray r = f.read(kLength);
    return r.size() == kLength ? r : QByteArray();
}

QString HistorySet::label() const {
    auto yyyymm = [](const QString& n) {
        const QDate m = MonthFile::month(n);
        return m.isValid() ? m.toString(QStringLiteral("yyyyMM")) : n;
    };
    if (months.isEmpty())
        return QStringLiteral("empty");
    if (months.size() == 1)
        return yyyymm(months.first());
    return yyyymm(months.first()) + QLatin1Char('-') + yyyymm(months.last());
}
