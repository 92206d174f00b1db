#pragma once
#include "common/StatusLine.h"

#include <QStringList>

// Everything put on a status line while this object lives. The station's commands report
// their own refusals and failures, so a command that went through leaves it empty.
class Reports {
public:
    explicit Reports(StatusLine& line) {
        QObject::connect(&line, &StatusLine::reported, &m_receiver,
                         [this](const QString& text) { m_said << text; });
    }
    bool none() const { return m_said.isEmpty(); }
    const QStringList& texts() const { return m_said; }

private:
    QObject m_receiver;
    QStringList m_said;
};
