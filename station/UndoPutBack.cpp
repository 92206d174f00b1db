#include "station/UndoPutBack.h"

#include "common/StatusLine.h"
#include "weighing/Completion.h"
#include "weighing/WeighingEvents.h"

#include <QFileInfo>

void UndoPutBack::restored(const QString& file, int records, const QString& what) {
    if (m_events) {
        WeighingEvent e;
        e.event = QStringLiteral("undo");
        e.detail = QStringLiteral("%1: %2 record(s) back in %3")
                       .arg(what)
                       .arg(records)
                       .arg(QFileInfo(file).fileName());
        m_events->record(e);
    }
    if (file == m_recipeStore) {
        if (Outcome o = m_reload.recipes(); !o)
            m_status.report(o.reason());
        return;
    }
    m_reload.queueList();
    const Completion::Reinstatement back = Completion::reinstate(m_workDir, file);
    if (!back.outcome)
        m_status.report(QStringLiteral("計量紀錄無法恢復: %1").arg(back.outcome.reason()));
    if (!back.reinstated)
        if (Outcome o = Completion::markRestored(m_workDir); !o)
            m_status.report(QStringLiteral("計量紀錄無法保留: %1").arg(o.reason()));
}
