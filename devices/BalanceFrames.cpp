#include "devices/BalanceFrames.h"

#include "common/Numbers.h"
#include "devices/ModbusFrames.h"

#include <algorithm>
#include <utility>

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

Stability textMark(const char* frame, qsizetype before, const BalanceMarks& marks) {
    if (marks.form == BalanceMarks::Form::First) {
        const QChar c = QLatin1Char(frame[0]);
        if (marks.overload.contains(c))
            return Stability::Overload;
        if (marks.unstable.contains(c))
            return Stability::Unstable;
        if (marks.stable.contains(c))
            return Stability::Stable;
    } else if (marks.form == BalanceMarks::Form::Header) {
        // Where one header could be read as another, the one that holds the line wins.
        for (auto [text, s] : {std::pair{&marks.overload, Stability::Overload},
                               std::pair{&marks.unstable, Stability::Unstable},
                               std::pair{&marks.stable, Stability::Stable}}) {
            const QByteArray h = text->toLatin1();
            if (!h.isEmpty() && h.size() <= before + 1 &&
                QByteArrayView(frame + 1 - h.size(), h.size()) == h)
                return s;
        }
    }
    return Stability::Unknown;
}

std::optional<TextReading> readingAt(const char* frame, qsizetype before, int gPosition,
                                     const BalanceMarks& marks) {
    if (!hasShape(frame, gPosition))
        return std::nullopt;
    const Stability s = textMark(frame, before, marks);
    if (std::optional<QString> caption = captionAt(frame, gPosition))
        return TextReading{*caption, s};
    if (s == Stability::Overload)
        return TextReading{QString(), s};
    return std::nullopt;
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

Reply parseReply(const QByteArray& bytes, int slave, const BalanceMarks& marks) {
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
    if (marks.form == BalanceMarks::Form::Modbus) {
        const quint32 register1 = (at(3) << 8) | at(4);
        if (register1 >> marks.overloadBit & 1)
            r.stability = Stability::Overload;
        else
            r.stability =
                register1 >> marks.stableBit & 1 ? Stability::Stable : Stability::Unstable;
    }
    return r;
}

} // namespace BalanceFrames

TextFrameParser::TextFrameParser(int gPosition, const BalanceMarks& marks)
    : m_gPosition(gPosition), m_marks(marks) {
    if (marks.form == BalanceMarks::Form::Header)
        for (const QString* h : {&marks.stable, &marks.unstable, &marks.overload})
            m_lookBehind = std::max(m_lookBehind, h->toLatin1().size() - 1);
}

std::optional<BalanceFrames::TextReading> TextFrameParser::read(const QByteArray& bytes) {
    m_pending += bytes;
    std::optional<BalanceFrames::TextReading> newest;
    qsizetype p = m_kept;
    const char* data = m_pending.constData();
    while (p + m_gPosition <= m_pending.size()) {
        if (BalanceFrames::hasShape(data + p, m_gPosition)) {
            if (auto r = BalanceFrames::readingAt(data + p, p, m_gPosition, m_marks))
                newest = r;
            p += m_gPosition;
        } else {
            ++p;
        }
    }
    // What is left is shorter than a frame's examined part: it may be the start of one.
    // In front of it stay the bytes a header of the next frame may have begun with.
    m_kept = std::min(p, m_lookBehind);
    m_pending.remove(0, p - m_kept);
    return newest;
}
