#include "weighing/ScanDetector.h"

bool ScanDetector::character(const QString& text, quint64 t) {
    const bool split = holding() && (t < m_last || t - m_last > kMaxGapMs);
    if (split)
        clear();
    m_held += text;
    ++m_count;
    m_last = t;
    return split;
}

std::optional<QString> ScanDetector::enter(quint64 t) {
    const bool scan = m_count >= kMinLength && t >= m_last && t - m_last <= kMaxGapMs;
    const QString text = m_held;
    clear();
    if (scan)
        return text;
    return std::nullopt;
}

void ScanDetector::clear() {
    m_held.clear();
    m_count = 0;
}
