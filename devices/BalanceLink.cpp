#include "devices/BalanceLink.h"

#include "common/StatusLine.h"
#include "config/StationSettings.h"
#include "devices/BalanceLinkTiming.h"
#include "devices/BalanceReadings.h"
#include "devices/SerialPort.h"

#include <QLoggingCategory>

// Every request and reply as hex: QT_LOGGING_RULES="dyestation.devices.*=true".
Q_LOGGING_CATEGORY(lcBalanceFrames, "dyestation.devices.balance.frames", QtWarningMsg)

using namespace BalanceFrames;

BalanceLink::BalanceLink(const StationSettings& settings, SerialPort& comm1, SerialPort& comm2,
                         BalanceReadings& readings, StatusLine& status, const BusClock& clock,
                         QObject* parent)
    : QObject(parent), m_settings(settings), m_comm1(comm1), m_comm2(comm2), m_readings(readings),
      m_status(status), m_clock(clock), m_line(comm1, m_stats[0], clock) {
    for (PortStats& s : m_stats)
        s.start(clock.nowUs());
}

void BalanceLink::tick() {
    const QString mode = m_settings.text(Setting::SetType);
    if (mode == QStringLiteral("1"))
        tickText(BalanceLinkTiming::kTextModeTickMs);
    else if (mode == QStringLiteral("2"))
        tickModbus(BalanceLinkTiming::kModbusTickMs);
}

void BalanceLink::restartAfterPause() {
    // A reply in flight is dropped with the request it answers: the next reading comes from a
    // request made after the pause.
    m_line.reset();
    m_comm1.read(-1);
    m_comm2.read(-1);
    m_smallFrames.clear();
    m_largeFrames.clear();
}

void BalanceLink::setMarks(const BalanceMarks& marks) {
    m_marks = marks;
    m_smallFrames = TextFrameParser(kSmallGPosition, marks);
    m_largeFrames = TextFrameParser(kLargeGPosition, marks);
    m_readings.setMarksOn(marks.on());
}

void BalanceLink::tickText(int tickMs) {
    countSilence(tickMs);
    const qint64 now = m_clock.nowUs();
    if (keepOpen(m_comm1, 0, tickMs))
        if (auto r = m_smallFrames.read(readText(m_comm1, "small", m_stats[0], now))) {
            accept(Balance::Small, r->caption, r->stability);
            m_stats[0].reading(0, now);
        }
    if (keepOpen(m_comm2, 1, tickMs))
        if (auto r = m_largeFrames.read(readText(m_comm2, "large", m_stats[1], now))) {
            accept(Balance::Large, r->caption, r->stability);
            m_stats[1].reading(0, now);
        }
}

QByteArray BalanceLink::readText(SerialPort& port, const char* balance, PortStats& stats,
                                 qint64 now) {
    const QByteArray bytes = port.read(-1);
    if (!bytes.isEmpty()) {
        qCDebug(lcBalanceFrames) << balance << bytes.toHex(' ');
        stats.received(bytes, now);
    }
    return bytes;
}

void BalanceLink::tickModbus(int tickMs) {
    countSilence(tickMs);
    if (!keepOpen(m_comm1, 0, tickMs)) {
        m_line.reset();
        return;
    }
    if (m_line.waiting()) {
        const std::optional<RtuLine::Exchange> e = m_line.poll();
        if (!e)
            return;
        judge(*e);
    }
    if (!m_line.readyToSend())
        return;
    const QByteArray request = readRequest(slaveOf(m_pollBalance));
    qCDebug(lcBalanceFrames) << "request" << request.toHex(' ');
    if (Outcome o = m_line.send(request, kReplyLength); !o)
        qCDebug(lcBalanceFrames) << "request not written:" << o.reason();
}

void BalanceLink::judge(const RtuLine::Exchange& e) {
    const Balance b = m_pollBalance;
    // Good or failed, the next request goes to the other balance, so that one silent or
    // garbling balance never starves the healthy one.
    m_pollBalance = otherBalance(b);
    qCDebug(lcBalanceFrames) << "reply" << e.answer.toHex(' ');
    const QString name = b == Balance::Small ? QStringLiteral("小天平") : QStringLiteral("大天平");
    switch (e.result) {
    case RtuLine::Result::Answer: {
        const Reply r = parseReply(e.answer, slaveOf(b), m_marks);
        if (r.status == ReplyStatus::Reading) {
            accept(b, r.caption, r.stability);
            m_stats[0].reading(slaveOf(b), m_clock.nowUs());
            m_fault[size_t(labelIndex(b))].clear();
        } else {
            fault(b, QStringLiteral("%1回應格式錯誤").arg(name));
        }
        break;
    }
    case RtuLine::Result::Exception:
        fault(b, QStringLiteral("%1回報例外 %2")
                     .arg(name)
                     .arg(e.exceptionCode, 2, 16, QLatin1Char('0')));
        break;
    case RtuLine::Result::Timeout:
        fault(b, QStringLiteral("%1回應逾時").arg(name));
        break;
    case RtuLine::Result::BadChecksum:
        fault(b, QStringLiteral("%1回應檢查碼錯誤").arg(name));
        break;
    }
}

void BalanceLink::fault(Balance b, const QString& what) {
    QString& last = m_fault[size_t(labelIndex(b))];
    if (last == what)
        return;
    last = what;
    m_status.report(what);
}

void BalanceLink::accept(Balance b, const QString& caption, Stability stability) {
    // An overload is shown as one; the caption keeps the last weight.
    if (stability != Stability::Overload)
        m_readings.setCaption(b, caption);
    m_readings.setStability(b, stability);
    m_readings.setLive(b, true);
    m_readings.setQuiet(b, false);
    m_silentMs[size_t(labelIndex(b))] = 0;
    ++m_count[size_t(labelIndex(b))];
}

void BalanceLink::countSilence(int tickMs) {
    for (Balance b : kBalances) {
        int& ms = m_silentMs[size_t(labelIndex(b))];
        if (ms < kStaleMs) {
            ms += tickMs;
            if (ms >= kQuietMs)
                m_readings.setQuiet(b, true);
            if (ms >= kStaleMs)
                m_readings.setLive(b, false);
        }
    }
}

bool BalanceLink::keepOpen(SerialPort& port, int which, int tickMs) {
    PortWatch& w = m_watch[size_t(which)];
    const QString name = which == 0 ? QStringLiteral("MSComm1") : QStringLiteral("MSComm2");
    if (port.isOpen())
        return true;
    if (!w.reportedDown) {
        w.reportedDown = true;
        w.ticksToRetry = 0;
        m_status.report(
            QStringLiteral("天平連接埠 %1 (%2) 中斷, 等待重新連線").arg(name, port.device()));
    }
    if (--w.ticksToRetry > 0)
        return false;
    w.ticksToRetry = kReopenMs / tickMs;
    const Setting s = which == 0 ? Setting::BalancePort1 : Setting::BalancePort2;
    if (!port.open(m_settings.text(s)))
        return false;
    w.reportedDown = false;
    m_status.report(QStringLiteral("天平連接埠 %1 (%2) 已重新連線").arg(name, port.device()));
    if (which == 0)
        m_smallFrames.clear();
    else
        m_largeFrames.clear();
    return true;
}
