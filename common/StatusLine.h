#pragma once
#include <QObject>
#include <QString>

// The one sink for what the operator must be told (the station shows no message boxes):
// the main window shows the latest report on its status line. Tests connect to
// `reported` to see what would have been shown.
class StatusLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void report(const QString& text) {
        m_text = text;
        emit reported(text);
    }
    void clear() { report(QString()); }
    const QString& text() const { return m_text; }

signals:
    void reported(const QString& text);

private:
    QString m_text;
};
