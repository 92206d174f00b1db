#include "history/HistorySet.h"

#include "common/TextField.h"
#include "station/HistoryLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace {

using namespace HistoryLayout;

// A field's bytes up to its first zero byte, blanks removed at both ends.
QByteArray fieldView(const char* record, int offset, int width) {
    const char* p = record + offset;
    int end = 0;
    while (end < width && p[end] != '\0')
        ++end;
    int begin = 0;
    while (begin < end && p[begin] == ' ')
        ++begin;
    while (end > begin && p[end - 1] == ' ')
        --end;
    return QByteArray::fromRawData(p + begin, end - begin);
}

bool isAscii(const QByteArray& b) {
    for (char c : b)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

QString text(const QByteArray& b) {
    return isAscii(b) ? QString::fromLatin1(b) : TextField::decode(QByteArray(b.constData(), b.size()));
}

// The lenient number of a field. Only ASCII digits, signs and points count, so the
// bytes can be widened one by one without decoding the code page.
Decimal number(const QByteArray& b) {
    char16_t buf[32];
    const qsizetype n = std::min<qsizetype>(b.size(), 32);
    for (qsizetype i = 0; i < n; ++i)
        buf[i] = char16_t(static_cast<unsigned char>(b[i]));
    return Decimal::parse(QStringView(buf, n));
}

// yyyymmdd of a stamp "2024/03/02 ...", 0 when it holds no date there.
qint32 stampDate(const QByteArray& s) {
    if (s.size() < 10 || s[4] != '/' || s[7] != '/')
        return 0;
    qint32 v = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (s[i] < '0' || s[i] > '9')
            return 0;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

const QRegularExpression& monthName() {
    static const QRegularExpression re(QStringLiteral("^DATE_(\\d{6})\\.txt$"));
    return re;
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
    HistorySet set;
    set.folder = folder;
    QHash<QByteArray, qint32> codeOfBytes;
    QHash<QString, qint32> codeOfText;
    for (const QString& name : names) {
        const QString path = QDir(folder).filePath(name);
        const QFileInfo info(path);
        QFile f(path);
        if (info.isDir()) {
            set.failures << QStringLiteral("%1: 是資料夾,不是歷史檔").arg(name);
            continue;
        }
        if (!f.open(QIODevice::ReadOnly)) {
            set.failures << QStringLiteral("%1: %2").arg(name, f.errorString());
            continue;
        }
        const qint64 count = f.size() / kLength;
        if (count == 0) {
            set.months << name;
            continue;
        }
        const uchar* mapped = f.map(0, count * kLength);
        QByteArray copy;
        if (!mapped) {
            copy = f.read(count * kLength);
            if (copy.size() != count * kLength) {
                set.failures << QStringLiteral("%1: %2").arg(name, f.errorString());
                continue;
            }
            mapped = reinterpret_cast<const uchar*>(copy.constData());
        }
        const qint32 month = qint32(set.months.size());
        set.months << name;
        set.orders.reserve(set.orders.size() + size_t(count));
        set.lines.reserve(set.lines.size() + size_t(count) * 6);
        for (qint64 k = 0; k < count; ++k) {
            const char* r = reinterpret_cast<const char*>(mapped) + k * kLength;
            const QByteArray stamp = fieldView(r, kStampText, kStampTextWidth);
            const qint32 order = qint32(set.orders.size());
            set.orders.push_back({text(fieldView(r, kOrderNo, kOrderNoWidth)), text(stamp),
                                  stampDate(stamp), month, qint32(k + 1)});
            for (int i = 1; i <= kLines; ++i) {
                const QByteArray code = fieldView(r, HistoryLayout::code(i), kCodeWidth);
                const QByteArray target = fieldView(r, HistoryLayout::target(i), kTargetWidth);
                const QByteArray actual = fieldView(r, HistoryLayout::actual(i), kActualWidth);
                if (code.isEmpty() && target.isEmpty() && actual.isEmpty())
                    continue;
                auto it = codeOfBytes.constFind(code);
                if (it == codeOfBytes.cend()) {
                    // Bytes that decode alike (invalid bytes become U+FFFD) are one code.
                    const QString t = text(code);
                    const qint32 id = codeOfText.value(t, qint32(set.codes.size()));
                    if (id == qint32(set.codes.size())) {
                        set.codes.push_back(t);
                        codeOfText.insert(t, id);
                    }
                    it = codeOfBytes.insert(QByteArray(code.constData(), code.size()), id);
                }
                set.lines.push_back({order, *it, i, number(target), number(actual)});
            }
        }
    }
    return set;
}

QStringList HistorySet::range(const QStringList& names, const QString& from, const QString& to) {
    QString lo = from, hi = to;
    if (hi < lo)
        std::swap(lo, hi);
    QStringList out;
    for (const QString& n : names)
        if (monthName().match(n).hasMatch() && n >= lo && n <= hi)
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
        const auto m = monthName().match(n);
        return m.hasMatch() ? m.captured(1) : n;
    };
    if (months.isEmpty())
        return QStringLiteral("empty");
    if (months.size() == 1)
        return yyyymm(months.first());
    return yyyymm(months.first()) + QLatin1Char('-') + yyyymm(months.last());
}
