#pragma once
#include "common/Outcome.h"

#include <QHash>
#include <QString>
#include <optional>

class WeighingEvents;
class WeighingModel;

// Confirmed pick: once a line's light is on, the operator scans the container taken from
// the shelf, and the line is not accepted before a scan that matches its dye. A wrong scan
// is refused on the prompt, naming both codes, and logged.
class PickCheck {
public:
    // `container code,dye code` lines (UTF-8); blank lines and lines without a comma are
    // skipped. A missing file is a failure (the setting names it, so it should be there).
    static Outcome loadAliases(const QString& file, QHash<QString, QString>& aliases);
    // The lot when `scan` is the container of `lineCode`: equal to the line's code up to its
    // first space (as the light lookup takes it), or that code followed by a space, '|',
    // ';' or ',' and the lot; or a container code that an alias maps to it (also with a
    // lot). Nothing when it does not match. Codes compare case-sensitively.
    static std::optional<QString> match(const QString& scan, const QString& lineCode,
                                        const QHash<QString, QString>& aliases);

    PickCheck(WeighingModel& model, QHash<QString, QString> aliases, bool secondLanguage);
    void setEvents(WeighingEvents* events) { m_events = events; }

    // A new line is prepared: its container must be scanned again.
    void startLine(int line);
    bool confirmed(int line) const { return m_confirmedLine == line && line > 0; }
    const QString& lot() const { return m_lot; }
    // True while the line being weighed has its light on and waits for its scan.
    bool wantsScan() const;
    // A scan while wantsScan(): confirms the line or refuses it (the prompt says so, the
    // refusal is logged). Returns whether it matched.
    bool scan(const QString& text);
    // The prompt while the line waits for its scan: the refusal of the last wrong scan,
    // or the request to scan.
    QString prompt() const;

private:
    QString lineCode() const;
    void log(const QString& event, const QString& scanned) const;

    WeighingModel& m;
    QHash<QString, QString> m_aliases;
    bool m_second;
    WeighingEvents* m_events = nullptr;
    int m_confirmedLine = 0;
    QString m_lot;
    QString m_refusal;
};
