#pragma once
#include <QString>
#include <QtGlobal>
#include <optional>

// Tells a barcode scan from a person's typing by the pace of the keys. A keyboard-wedge
// scanner sends its characters a few milliseconds apart and closes them with Enter; a
// person, even typing fast, leaves far more than kMaxGapMs between most keys. A burst of
// at least kMinLength characters, each within kMaxGapMs of the one before, with Enter
// within kMaxGapMs of the last, is a scan. Times are the window system's key time stamps
// in milliseconds.
class ScanDetector {
public:
    static constexpr quint64 kMaxGapMs = 25;
    static constexpr int kMinLength = 4;

    // A printable character typed at `t`. Returns true when the characters held so far do
    // not belong to the same burst (the gap before this one is too long): the caller
    // delivers them first. The character is then held as the start or the next of a burst.
    bool character(const QString& text, quint64 t);
    // Enter at `t`: the held text when it makes a scan; nothing otherwise (the caller
    // delivers the held characters, then the Enter). Either way the burst ends.
    std::optional<QString> enter(quint64 t);
    // Forgets the burst, once its characters have been delivered.
    void clear();

    const QString& held() const { return m_held; }
    bool holding() const { return !m_held.isEmpty(); }

private:
    QString m_held;
    int m_count = 0;
    quint64 m_last = 0;
};
