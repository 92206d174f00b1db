#include "common/EventLog.h"

#include "common/Clock.h"
#include "common/StatusLine.h"

#include <QRegularExpression>

namespace {
// Words of the station's messages that tell of something that went wrong, in both scripts.
const char* const kFaultWords[] = {"失敗",     "失败",     "無法",   "无法",   "中斷",   "中断",
                                   "沒有回應", "没有回应", "未送出", "未寫入", "未写入", "未開啟",
                                   "未开启",   "錯誤",     "错误",   "找不到", "未刪除", "未删除",
                                   "未列印",   "未列印",   "不存在", "拒絕",   "拒绝",   "locked"};
} // namespace

EventLog::EventLog(StatusLine& status, const Clock& clock, PortName portName, QObject* parent)
    : QObject(parent), m_clock(clock), m_portName(std::move(portName)) {
    connect(&status, &StatusLine::reported, this, &EventLog::add);
}

EventLog::Event EventLog::describe(const QString& text, const PortName& portName) {
    Event e;
    QString plain = text;
    QStringList detail;
    // "天平連接埠 MSComm1 (/dev/ttyS0)": the balance by its name, the port in the detail.
    static const QRegularExpression port(
        QStringLiteral("(?:天平連接埠|燈號連接埠)?\\s*(MSComm\\d)\\s*(\\([^)]*\\))?"));
    QRegularExpressionMatch m = port.match(plain);
    if (m.hasMatch()) {
        const QString name = portName ? portName(m.captured(1)) : QString();
        detail << (m.captured(1) +
                   (m.captured(2).isEmpty() ? QString() : QLatin1Char(' ') + m.captured(2)));
        plain.replace(m.capturedStart(), m.capturedLength(),
                      name.isEmpty() ? m.captured(1) : name + QLatin1Char(' '));
    }
    // "what: why": the why is the technical part.
    const qsizetype colon = plain.indexOf(QLatin1String(": "));
    if (colon > 0) {
        detail.prepend(plain.mid(colon + 2).trimmed());
        plain = plain.left(colon);
    }
    e.plain = plain.simplified();
    e.detail = detail.join(QStringLiteral(" · "));
    for (const char* w : kFaultWords)
        if (text.contains(QString::fromUtf8(w)))
            e.fault = true;
    return e;
}

void EventLog::add(const QString& text) {
    if (text.isEmpty())
        return; // a cleared status line is no event
    Event e = describe(text, m_portName);
    e.time = m_clock.now();
    m_events << e;
    if (m_events.size() > kKept)
        m_events.remove(0, m_events.size() - kKept);
    emit added(e);
}
