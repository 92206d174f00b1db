#pragma once
#include "common/StatusLine.h"

#include <QStringList>

// Everything put on a status line while this object lives. The station's commands answer
// there once each (what they did, or why not); other steps report only refusals and
// failures, so a step that went through leaves it empty.
class Reports {
public:
    explicit Reports(StatusLine& line) {
        QObject::connect(&line, &StatusLine::reported, &m_receiver,
                         [this](const QString& text) { m_said << text; });
    }
    bool none() const { return m_said.isEmpty(); }
    const QStringList& texts() const { return m_said; }
    // Said exactly once since the last call, with `words` in it; forgets what was said.
    bool once(const QString& words) {
        const bool one = m_said.size() == 1 && m_said.first().contains(words);
        if (!one)
            qWarning("said: %s", qPrintable(m_said.join(QLatin1String(" | "))));
        m_said.clear();
        return one;
    }

private:
    QObject m_receiver;
    QStringList m_said;
};
