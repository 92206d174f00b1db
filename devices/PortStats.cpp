#include "devices/PortStats.h"

#include "common/FileOps.h"

#include <QStringList>
#include <algorithm>

void PortStats::keep(std::deque<Frame>& trace, const QByteArray& bytes, qint64 us) {
    trace.push_back({us, bytes});
    while (trace.size() > size_t(kTraceFrames))
        trace.pop_front();
}

void PortStats::sent(const QByteArray& bytes, qint64 us) {
    ++m_requests;
    keep(m_tx, bytes, us);
}

void PortStats::received(const QByteArray& bytes, qint64 us) {
    keep(m_rx, bytes, us);
}

void PortStats::reading(int unit, qint64 us) {
    std::deque<qint64>& times = m_readings[unit];
    times.push_back(us);
    while (!times.empty() && times.front() <= us - kRateWindowUs)
        times.pop_front();
}

qint64 PortStats::exceptionCount() const {
    qint64 n = 0;
    for (qint64 c : m_exceptions)
        n += c;
    return n;
}

double PortStats::readingsPerSecond(int unit, qint64 nowUs) const {
    const auto it = m_readings.constFind(unit);
    if (it == m_readings.cend())
        return 0;
    const qint64 from = nowUs - kRateWindowUs;
    const auto n = std::count_if(it->begin(), it->end(), [&](qint64 t) { return t > from; });
    const qint64 span = std::min(kRateWindowUs, nowUs - m_startUs);
    return span > 0 ? double(n) * 1e6 / double(span) : 0.0;
}

QString PortStats::summary(qint64 nowUs) const {
    QStringList parts;
    parts << QStringLiteral("requests %1").arg(m_requests)
          << QStringLiteral("answers %1").arg(m_answers)
          << QStringLiteral("time-outs %1").arg(m_timeouts)
          << QStringLiteral("checksum errors %1").arg(m_checksumErrors);
    QStringList codes;
    for (auto it = m_exceptions.cbegin(); it != m_exceptions.cend(); ++it)
        codes << QStringLiteral("%1 x%2").arg(it.key(), 2, 16, QLatin1Char('0')).arg(it.value());
    parts << QStringLiteral("exceptions %1%2")
                 .arg(exceptionCount())
                 .arg(codes.isEmpty() ? QString() : QStringLiteral(" (") + codes.join(", ") + ")");
    parts << QStringLiteral("wrong slave %1").arg(m_wrongSlave);
    for (int unit : m_readings.keys())
        parts << QStringLiteral("readings/s%1 %2")
                     .arg(unit ? QStringLiteral(" slave %1").arg(unit) : QString())
                     .arg(readingsPerSecond(unit, nowUs), 0, 'f', 1);
    return m_name + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString PortStats::trace() const {
    struct Line {
        qint64 us;
        bool tx;
        const QByteArray* bytes;
    };
    std::vector<Line> lines;
    for (const Frame& f : m_tx)
        lines.push_back({f.us, true, &f.bytes});
    for (const Frame& f : m_rx)
        lines.push_back({f.us, false, &f.bytes});
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.us < b.us; });
    QString out;
    for (const Line& l : lines)
        out += QStringLiteral("%1.%2 %3 %4\n")
                   .arg(l.us / 1'000'000, 8)
                   .arg(l.us % 1'000'000, 6, 10, QLatin1Char('0'))
                   .arg(l.tx ? QStringLiteral("TX") : QStringLiteral("RX"),
                        QString::fromLatin1(l.bytes->toHex(' ').toUpper()));
    return out;
}

QString portReport(const QList<const PortStats*>& ports, qint64 nowUs) {
    QString out;
    for (const PortStats* p : ports)
        out += p->summary(nowUs) + QLatin1Char('\n');
    for (const PortStats* p : ports)
        out += QStringLiteral("\n== %1 (last %2 frames each way)\n")
                   .arg(p->name())
                   .arg(PortStats::kTraceFrames) +
               p->trace();
    return out;
}

Outcome savePortReport(const QString& file, const QList<const PortStats*>& ports, qint64 nowUs) {
    if (Outcome o = FileOps::replaceWhole(file, file + QStringLiteral(".new"),
                                          portReport(ports, nowUs).toUtf8());
        !o)
        return Outcome::failure(QStringLiteral("%1: %2").arg(file, o.reason()));
    return Outcome::success();
}
