#pragma once
#include "config/BalanceMarks.h"
#include "devices/Balance.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The frames of the two balances: continuous text frames (mode "1") and Modbus RTU
// replies (mode "2"). Plain functions and one stream parser, so that every rule can be
// tested byte by byte.
namespace BalanceFrames {

// Text frames, positions counted from 1: a sign ("+" or "-") at 2, the number from 3 up
// to the position before the "g", the "g" at 11 (small balance) or 10 (large balance).
constexpr int kSmallGPosition = 11;
constexpr int kLargeGPosition = 10;

// The caption of a text frame that starts at its first character, or nothing when the
// frame does not have its sign and "g" in place or its number field is not a number
// (blanks, an error text). A positive reading keeps the balance's own digits
// ("0012.34"), a negative one is the shortest decimal ("-12.34").
std::optional<QString> textCaption(const QByteArray& frame, int gPosition);
// The same for a frame at `frame`, which holds at least gPosition bytes; hasShape tells
// only whether the sign and the "g" are in place.
bool hasShape(const char* frame, int gPosition);
std::optional<QString> captionAt(const char* frame, int gPosition);

// A reading of a text frame with the balance's mark (Unknown while the marks are off).
// An overload frame needs only its sign and "g" in place, as a balance past its capacity
// often sends no number; its caption is then empty. It is never a weight.
struct TextReading {
    QString caption;
    Stability stability = Stability::Unknown;
};

// The mark of the frame whose first character is at `frame`, `before` bytes of the buffer
// preceding it (a header ends at the first character).
Stability textMark(const char* frame, qsizetype before, const BalanceMarks& marks);
// The reading of the frame at `frame` (at least gPosition bytes, `before` bytes before it),
// or nothing when it is not one.
std::optional<TextReading> readingAt(const char* frame, qsizetype before, int gPosition,
                                     const BalanceMarks& marks);

// Modbus RTU, slave 3 = small balance (0.01 g), slave 4 = large balance (0.1 g).
constexpr int kSmallSlave = 3;
constexpr int kLargeSlave = 4;
constexpr int slaveOf(Balance b) {
    return b == Balance::Small ? kSmallSlave : kLargeSlave;
}
constexpr int kReplyLength = 11;

// Read holding registers 1..3 of the slave, with its checksum (8 bytes).
QByteArray readRequest(int slave);
// Write coil 240 ON: zeroes that balance (8 bytes).
QByteArray zeroCommand(int slave);

enum class ReplyStatus {
    Reading,     // a valid reply: `caption` holds the reading
    Short,       // fewer than 11 bytes (nothing, a partial or an exception reply)
    BadChecksum, // 11 bytes or more whose first 11 fail the checksum
    Invalid,     // a valid checksum but not this slave's answer to the read
    BadSign,     // register 1's low digit is a letter (A..F)
};

struct Reply {
    ReplyStatus status = ReplyStatus::Short;
    QString caption;
    Stability stability = Stability::Unknown; // from register 1 with the Modbus marks
};

// Judges what was read from the line after asking `slave`; a longer read counts when its
// first 11 bytes are a valid reply. Register 1's low hexadecimal digit "1" means a
// positive reading, any other decimal digit a negative one; registers 2 (high word) and 3
// carry the magnitude as a signed 32-bit count of the balance's unit.
// With the Modbus marks, register 1's bits give the reply's stability.
Reply parseReply(const QByteArray& bytes, int slave, const BalanceMarks& marks = {});

} // namespace BalanceFrames

// Finds the text frames in the bytes a balance sends continuously. Fed with whatever has
// arrived, in pieces of any size; it holds an unfinished frame between feeds and reports
// the newest complete good frame of each feed. With header marks it also keeps the few
// bytes before the unread part that a header may span.
class TextFrameParser {
public:
    explicit TextFrameParser(int gPosition, const BalanceMarks& marks = {});

    // The newest good frame completed by these bytes, if any.
    std::optional<BalanceFrames::TextReading> read(const QByteArray& bytes);
    // Its caption only.
    std::optional<QString> feed(const QByteArray& bytes) {
        const std::optional<BalanceFrames::TextReading> r = read(bytes);
        return r ? std::optional<QString>(r->caption) : std::nullopt;
    }
    void clear() {
        m_pending.clear();
        m_kept = 0;
    }
    // Bytes held that are not yet examined.
    qsizetype pending() const { return m_pending.size() - m_kept; }

private:
    int m_gPosition;
    BalanceMarks m_marks;
    qsizetype m_lookBehind = 0; // longest header - 1
    qsizetype m_kept = 0;       // examined bytes kept in front for a header
    QByteArray m_pending;
};
