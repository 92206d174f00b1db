#pragma once
#include <QString>

// The result of an operation that can fail: success, or failure with a short reason
// that the caller shows to the operator. No caller may drop it unread: a failure is
// either handled or reported.
class [[nodiscard]] Outcome {
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(const QString& reason) {
        return Outcome(reason.isEmpty() ? QStringLiteral("?") : reason);
    }

    bool ok() const { return m_reason.isNull(); }
    explicit operator bool() const { return ok(); }
    const QString& reason() const { return m_reason; }

private:
    Outcome() = default;
    explicit Outcome(const QString& reason) : m_reason(reason) {}
    QString m_reason;
};
