#pragma once
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "common/TextField.h"
#include "config/FieldMapping.h"
#include "config/StationSettings.h"
#include "intake/FaultMonitor.h"
#include "intake/OrderDatabase.h"
#include "intake/StagingGrid.h"

#include <QObject>
#include <QString>

// The query box of the settings window (Form1.Text1): every query text sent to the order
// database is shown there, and the search runs its text when no direct query applies.
class QueryBox : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const QString& text() const { return m_text; }
    void setText(const QString& t) {
        if (t != m_text) {
            m_text = t;
            emit changed();
        }
    }

signals:
    void changed();

private:
    QString m_text;
};

// What the order search, the polling and the SQL workbench share.
struct IntakeContext {
    StationSettings& settings;
    FieldMapping& mapping;
    OrderDatabase& db;
    QueryBox& queryBox;   // Form1.Text1
    StagingGrid& grid;    // Form1.MSFlexGrid1
    IntakeFaults& faults; // each kind of work reports on its own
    StatusLine& status;
    Clock& clock;
    QString workDir;
    // The monthly dye order file's folder: c:\oruk\dat3 where the station came from.
    QString monthlyFolder = QStringLiteral("/oruk/dat3");
    int loginTimeoutSecs = 10;
    int statementTimeoutSecs = 10;

    DbLogin login() const {
        return {settings.trimmed(Setting::DataSourceName), settings.trimmed(Setting::UserId),
                settings.trimmed(Setting::DbPassword), loginTimeoutSecs, statementTimeoutSecs};
    }
    QString receivePath() const { return settings.trimmed(Setting::ReceivePath); }
};
