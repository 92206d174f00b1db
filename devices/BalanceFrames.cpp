#include "devices/BalanceFrames.h"

#include "common/Numbers.h"
#include "devices/ModbusFrames.h"

namespace BalanceFrames {

bool hasShape(const char* frame, int gPosition) {
    return (frame[1] == '+' || frame[1] == '-') && frame[gPosition - 1] == 'g';
}

// The field without its padding blanks when it is a plain unsigned decimal (digits with
// at most one point, no blank inside); nothing otherwise.
static std::optional<QByteArray> plainNumber(const QByteArray& field) {
    qsizetype b = 0, e = field.size();
    while (b < e && field.at(b) == ' ')
        ++b;
    while (e > b && field.at(e - 1) == ' ')
        --e;
    const QByteArray t = field.mid(b, e - b);
    bool digit = false, point = false;
    for (char c : t) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digit)
        return std::nullopt;
    return t;
}

std::optional<QString> captionAt(const char* frame, int gPosition) {
    if (!hasShape(frame, gPosition))
        return std::nullopt;
    const std::optional<QByteArray> number = plainNumber(QByteArray(frame + 2, gPosition - 3));
    if (!number)
        return std::nullopt;
    const QString text = QString::fromLatin1(*number);
    if (frame[1] == '-')
        return (-Decimal::parse(text)).toString();
    return text;
}

namespace {

QByteArray request(int slave, char function, quint16 address, quint16 value) {
    QByteArray data;
    data.append(char(slave));
    data.append(function);
    data.append(char(address >> 8));
    data.append(char(address & 0xFF));
    data.append(char(value >> 8));
    data.append(char(value & 0xFF));
    return ModbusFrames::withCrc(data);
}

} // namespace

std::optional<QString> textCaption(const QByteArray& frame, int gPosition) {
    if (frame.size() < gPosition)
        return std::nullopt;
    return captionAt(frame.constData(), gPosition);
}

// Holding registers 1..3: sign, magnitude high word, magnitude low word.
QByteArray readRequest(int slave) {
    return request(slave, ModbusFrames::kReadHoldingRegisters, 0x0001, 0x0003);
}

// Coil 240 zeroes the balance.
QByteArray zeroCommand(int slave) {
    return request(slave, ModbusFrames::kWriteSingleCoil, 0x00F0, ModbusFrames::kCoilOn);
}

Reply parseReply(const QByteArray& bytes, int slave) {
    Reply r;
    if (bytes.size() < kReplyLength)
        return r;
    const QByteArray frame = bytes.left(kReplyLength);
    if (!ModbusFrames::crcMatches(frame)) {
        r.status = ReplyStatus::BadChecksum;
        return r;
    }
    auto at = [&](int k) { return quint32(quint8(frame.at(k))); };
    // Slave, function, and the byte count of three registers.
    if (int(at(0)) != slave || at(1) != quint32(ModbusFrames::kReadHoldingRegisters) ||
        at(2) != 6) {
        r.status = ReplyStatus::Invalid;
        return r;
    }
    const quint32 signDigit = at(4) & 0x0F;
    if (signDigit > 9) {
        r.status = ReplyStatus::BadSign;
        return r;
    }
    qint64 count = qint32((at(5) << 24) | (at(6) << 16) | (at(7) << 8) | at(8));
    if (signDigit != 1)
        count = -count;
    // One count is 0.01 g on the small balance and 0.1 g on the large one.
    const qint64 unitsPerCount =
        slave == kSmallSlave ? Decimal::kScale / 100 : Decimal::kScale / 10;
    r.status = ReplyStatus::Reading;
    r.caption = Decimal::fromUnits(count * unitsPerCount).toString();
    return r;
}

} // namespace BalanceFrames

std::optional<QString> TextFrameParser::feed(const QByteArray& bytes) {
    m_pending += bytes;
    std::optional<QString> newest;
    qsizetype p = 0;
    const char* data = m_pending.constData();
    while (p + m_gPosition <= m_pending.size()) {
        if (BalanceFrames::hasShape(data + p, m_gPosition)) {
            if (std::optional<QString> c = BalanceFrames::captionAt(data + p, m_gPosition))
                newest = c;
            p += m_gPosition;
        } else {
            ++p;
        }
    }
    // What is left is shorter than a frame's examined part: it may be the start of one.
    m_pending.remove(0, p);
    return newest;
}
