#include "history/HistoryRecord.h"

#include "common/OleDate.h"
#include "common/TextField.h"

#include <QtEndian>
#include <cstring>

using namespace HistoryLayout;

QString MonthFile::folder() {
    return QStringLiteral("data");
}

QString MonthFile::name(const QDate& month) {
    return QStringLiteral("DATE_%1.txt").arg(month.toString(QStringLiteral("yyyyMM")));
}

QDate MonthFile::month(const QString& name) {
    const QLatin1StringView prefix("DATE_"), suffix(".txt");
    const qsizetype digits = name.size() - prefix.size() - suffix.size();
    if (digits != 6 || !name.startsWith(prefix) || !name.endsWith(suffix))
        return {};
    const QStringView yyyymm = QStringView(name).mid(prefix.size(), 6);
    for (QChar c : yyyymm)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return {};
    return QDate(yyyymm.left(4).toInt(), yyyymm.mid(4).toInt(), 1);
}

QString historyFileName(const QDateTime& t) {
    return MonthFile::folder() + QLatin1Char('/') + MonthFile::name(t.date());
}

bool Field::ascii() const {
    for (int i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

Field Field::trimmed() const {
    int begin = 0, end = n;
    while (begin < end && p[begin] == ' ')
        ++begin;
    while (end > begin && p[end - 1] == ' ')
        --end;
    return {p + begin, end - begin};
}

QString Field::text() const {
    return ascii() ? QString::fromLatin1(p, n) : TextField::fromCp950(QByteArray(p, n));
}

Field HistoryLayout::field(const char* record, int offset, int width) {
    const char* p = record + offset;
    int n = 0;
    while (n < width && p[n] != '\0')
        ++n;
    return {p, n};
}

QString HistoryRecord::stampText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QByteArray HistoryRecord::encode() const {
    QByteArray r(kLength, ' ');
    TextField::put(r, kOrderNo, kOrderNoWidth, OrderNo);
    for (int i = 1; i <= kLines; ++i) {
        TextField::put(r, code(i), kCodeWidth, Code[size_t(i)]);
        TextField::put(r, target(i), kTargetWidth, Target[size_t(i)]);
        TextField::put(r, actual(i), kActualWidth, Actual[size_t(i)]);
        TextField::put(r, b01(i), kB01Width, B01[size_t(i)]);
    }
    TextField::put(r, kStampText, kStampTextWidth, stampText(Completed));
    const double stamp = OleDate::fromDateTime(Completed);
    quint64 bits;
    std::memcpy(&bits, &stamp, sizeof bits);
    qToLittleEndian(bits, r.data() + kStamp);
    r[kEol] = '\r';
    r[kEol + 1] = '\n';
    return r;
}

HistoryRecord HistoryRecord::decode(const QByteArray& bytes) {
    QByteArray b = bytes;
    if (b.size() < kLength)
        b.append(kLength - b.size(), ' ');
    const char* r = b.constData();
    auto text = [r](int offset, int width) { return field(r, offset, width).trimmed().text(); };
    HistoryRecord h;
    h.OrderNo = text(kOrderNo, kOrderNoWidth);
    for (int i = 1; i <= kLines; ++i) {
        h.Code[size_t(i)] = text(code(i), kCodeWidth);
        h.Target[size_t(i)] = text(target(i), kTargetWidth);
        h.Actual[size_t(i)] = text(actual(i), kActualWidth);
        h.B01[size_t(i)] = text(b01(i), kB01Width);
    }
    const quint64 bits = qFromLittleEndian<quint64>(r + kStamp);
    double stamp;
    std::memcpy(&stamp, &bits, sizeof stamp);
    h.Completed = OleDate::toDateTime(stamp);
    return h;
}
