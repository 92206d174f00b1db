#include "weighing/PickCheck.h"

#include "weighing/WeighingEvents.h"
#include "weighing/WeighingModel.h"

#include <QFile>

Outcome PickCheck::loadAliases(const QString& file, QHash<QString, QString>& aliases) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("%1: %2").arg(file, f.errorString()));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype comma = line.indexOf(QLatin1Char(','));
        if (comma <= 0)
            continue;
        const QString dye = line.mid(comma + 1).trimmed();
        if (!dye.isEmpty())
            aliases.insert(line.left(comma).trimmed(), dye);
    }
    return Outcome::success();
}

namespace {
bool isLotSeparator(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('|') || c == QLatin1Char(';') ||
           c == QLatin1Char(',');
}

// The lot when `scan` is `key` itself or `key`, a separator and the lot.
std::optional<QString> lotAfter(const QString& scan, const QString& key) {
    if (key.isEmpty() || !scan.startsWith(key))
        return std::nullopt;
    if (scan.size() == key.size())
        return QString();
    if (!isLotSeparator(scan.at(key.size())))
        return std::nullopt;
    return scan.mid(key.size() + 1).trimmed();
}
} // namespace

std::optional<QString> PickCheck::match(const QString& scanned, const QString& lineCode,
                                        const QHash<QString, QString>& aliases) {
    const QString scan = scanned.trimmed();
    const QString key = lineCode.trimmed().section(QLatin1Char(' '), 0, 0);
    if (auto lot = lotAfter(scan, key))
        return lot;
    // A container labelled otherwise: its own code, perhaps followed by a lot.
    qsizetype end = 0;
    while (end < scan.size() && !isLotSeparator(scan.at(end)))
        ++end;
    const QString container = scan.left(end);
    if (!key.isEmpty() && aliases.value(container) == key)
        return scan.mid(end + 1).trimmed();
    return std::nullopt;
}

PickCheck::PickCheck(WeighingModel& model, QHash<QString, QString> aliases, bool secondLanguage)
    : m(model), m_aliases(std::move(aliases)), m_second(secondLanguage) {}

void PickCheck::startLine(int line) {
    (void)line;
    m_confirmedLine = 0;
    m_lot.clear();
    m_refusal.clear();
}

QString PickCheck::lineCode() const {
    return m.LineTable[lineSlot(m.Line, LineSlot::Code)];
}

bool PickCheck::wantsScan() const {
    return (m.State == SequencerState::BeginWeighing || m.State == SequencerState::Weigh) &&
           m.Line >= 1 && !confirmed(m.Line);
}

bool PickCheck::scan(const QString& text) {
    const QString needed = lineCode();
    if (const auto lot = match(text, needed, m_aliases)) {
        m_confirmedLine = m.Line;
        m_lot = *lot;
        m_refusal.clear();
        log(QStringLiteral("pick_ok"), text.trimmed());
        return true;
    }
    const QString n = QString::number(m.Line);
    const QString y = needed.trimmed();
    m_refusal = m_second ? QStringLiteral("扫描到 %1,第 %2 行需要 %3").arg(text.trimmed(), n, y)
                         : QStringLiteral("掃描到 %1,第 %2 行需要 %3").arg(text.trimmed(), n, y);
    m.prompt = m_refusal;
    m.notify();
    log(QStringLiteral("pick_mismatch"), text.trimmed());
    return false;
}

QString PickCheck::prompt() const {
    if (!m_refusal.isEmpty())
        return m_refusal;
    const QString n = QString::number(m.Line);
    const QString y = lineCode().trimmed();
    return m_second ? QStringLiteral("请扫描第 %1 行的容器条码 %2").arg(n, y)
                    : QStringLiteral("請掃描第 %1 行的容器條碼 %2").arg(n, y);
}

void PickCheck::log(const QString& event, const QString& scanned) const {
    if (!m_events)
        return;
    WeighingEvent e;
    e.orderNo = m.boxText[10];
    e.line = m.Line;
    e.code = lineCode();
    e.lot = m_lot;
    e.target = m.LineTable[lineSlot(m.Line, LineSlot::Target)];
    e.actual = m.LineTable[lineSlot(m.Line, LineSlot::Actual)];
    e.balance = m.LineBalance[size_t(m.Line - 1)] == LineBalanceCode::Large
                    ? QStringLiteral("large")
                    : QStringLiteral("small");
    e.event = event;
    e.detail = event == QLatin1String("pick_ok")
                   ? QStringLiteral("scanned %1").arg(scanned)
                   : QStringLiteral("scanned %1, needs %2").arg(scanned, lineCode().trimmed());
    m_events->record(e);
}
