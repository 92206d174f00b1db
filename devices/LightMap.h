#pragma once
#include "common/Outcome.h"

#include <QObject>
#include <QString>
#include <array>

// Which dye stands at which lit shelf position: position j (1..120) holds a code. The
// light map window shows and edits this model; what is typed there counts at once for
// the sequencer's lookups, before it is saved. Stored in DYE_LIGHT.txt as 120 records of
// 50 bytes, no separators.
class LightMap : public QObject {
    Q_OBJECT
public:
    static constexpr int kPositions = 120;
    static constexpr int kRecordLength = 50;

    using QObject::QObject;

    QString code(int position) const { return m_codes[size_t(position - 1)]; }
    void setCode(int position, const QString& code);

    // The first position whose code, trimmed, equals `code` up to its first blank; 0 when
    // none does (or the code is empty).
    int lookup(const QString& code) const;

    Outcome load(const QString& path);
    // Refuses (and writes nothing) when a code holds a character code page 950 cannot hold.
    Outcome save(const QString& path) const;

signals:
    void changed(int position);

private:
    std::array<QString, kPositions> m_codes;
};
