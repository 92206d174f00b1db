#include "devices/ModbusFrames.h"

namespace ModbusFrames {

quint16 crc16(const QByteArray& data) {
    quint16 crc = 0xFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray CRC16(const QByteArray& data) {
    const quint16 c = crc16(data);
    QByteArray out;
    out.append(char(c >> 8));
    out.append(char(c & 0xFF));
    return out;
}

QByteArray withCrc(const QByteArray& data) {
    const quint16 c = crc16(data);
    QByteArray out = data;
    out.append(char(c & 0xFF));
    out.append(char(c >> 8));
    return out;
}

bool crcMatches(const QByteArray& frame) {
    if (frame.size() < 3)
        return false;
    return withCrc(frame.left(frame.size() - 2)) == frame;
}

} // namespace ModbusFrames
