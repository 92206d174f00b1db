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
                         BalanceReadings& readings, StatusLine& status, QObject* parent)
    : QObject(parent), m_settings(settings), m_comm1(comm1), m_comm2(comm2), m_readings(readings),
      m_status(status) {}

void BalanceLink::tick() {
    const QString mode = m_settings.text(Setting::SetType);
    if (mode == QStringLiteral("1"))
        tickText(BalanceLinkTiming::kTextModeTickMs);
    else if (mode == QStringLiteral("2"))
        tickModbus(BalanceLinkTiming::kModbusTickMs);
}

void BalanceLink::restartAfterPause() {
    m_pollTick = 0;
    m_rereading = false;
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
    if (keepOpen(m_comm1, 0, tickMs))
        if (auto r = m_smallFrames.read(readText(m_comm1, "small")))
            accept(Balance::Small, r->caption, r->stability);
    if (keepOpen(m_comm2, 1, tickMs))
        if (auto r = m_largeFrames.read(readText(m_comm2, "large")))
            accept(Balance::Large, r->caption, r->stability);
}

QByteArray BalanceLink::readText(SerialPort& port, const char* balance) {
    const QByteArray bytes = port.read(-1);
    if (!bytes.isEmpty())
        qCDebug(lcBalanceFrames) << balance << bytes.toHex(' ');
    return bytes;
}

void BalanceLink::tickModbus(int tickMs) {
    countSilence(tickMs);
    if (!keepOpen(m_comm1, 0, tickMs)) {
        m_pollTick = 0;
        return;
    }
    if (++m_pollTick >= kCycleTicks + 1)
        m_pollTick = 1;
    if (m_pollTick == 1) {
        // Whatever is still waiting (a late reply, the answer to a zero command) must not
        // be taken for the reply to this request.
        m_comm1.read(-1);
        const QByteArray request = readRequest(slaveOf(m_pollBalance));
        qCDebug(lcBalanceFrames) << "request" << request.toHex(' ');
        if (!m_comm1.write(request))
            m_pollTick = 0;
    } else if (m_pollTick == kReadTick) {
        readModbusReply();
    }
}

void BalanceLink::readModbusReply() {
    const QByteArray bytes = m_comm1.read(-1);
    qCDebug(lcBalanceFrames) << "reply" << bytes.toHex(' ');
    const Reply r = parseReply(bytes, slaveOf(m_pollBalance), m_marks);
    const bool reread = m_rereading;
    m_rereading = false;
    switch (r.status) {
    case ReplyStatus::Reading:
        accept(m_pollBalance, r.caption, r.stability);
        m_pollBalance = otherBalance(m_pollBalance);
        break;
    case ReplyStatus::BadChecksum:
        if (!reread) {
            // Read the port once more on the next tick, without a new request.
            m_rereading = true;
            m_pollTick = kReadTick - 1;
            break;
        }
        [[fallthrough]];
    case ReplyStatus::Short:
    case ReplyStatus::Invalid:
    case ReplyStatus::BadSign:
        // The next request goes to the other balance, so that one silent or garbling
        // balance never starves the healthy one. A late reply of this one is dropped
        // before that request, and would be refused by its address anyway.
        m_pollBalance = otherBalance(m_pollBalance);
        m_pollTick = 0;
        break;
    }
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
