#pragma once
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
};

// Judges what was read from the line after asking `slave`; a longer read counts when its
// first 11 bytes are a valid reply. Register 1's low hexadecimal digit "1" means a
// positive reading, any other decimal digit a negative one; registers 2 (high word) and 3
// carry the magnitude as a signed 32-bit count of the balance's unit.
Reply parseReply(const QByteArray& bytes, int slave);

} // namespace BalanceFrames

// Finds the text frames in the bytes a balance sends continuously. Fed with whatever has
// arrived, in pieces of any size; it holds an unfinished frame between feeds and reports
// the newest complete good frame of each feed.
class TextFrameParser {
public:
    explicit TextFrameParser(int gPosition) : m_gPosition(gPosition) {}

    // The caption of the newest good frame completed by these bytes, if any.
    std::optional<QString> feed(const QByteArray& bytes);
    void clear() { m_pending.clear(); }
    qsizetype pending() const { return m_pending.size(); }

private:
    int m_gPosition;
    QByteArray m_pending;
};
