#pragma once
#include <QByteArray>
#include <QtGlobal>

// Modbus RTU framing shared by the light bus and the balance link.
namespace ModbusFrames {

// The function codes the station sends.
constexpr char kReadHoldingRegisters = 0x03;
constexpr char kWriteSingleCoil = 0x05;
constexpr char kWriteMultipleCoils = 0x0F;
// A single coil's value for on and for off.
constexpr quint16 kCoilOn = 0xFF00, kCoilOff = 0x0000;

// The Modbus RTU CRC-16 (preset 0xFFFF, reflected polynomial 0xA001, no final inversion).
quint16 crc16(const QByteArray& data);
// The checksum as two bytes, high byte first (the form the window method returns).
QByteArray CRC16(const QByteArray& data);
// The data followed by its checksum, low byte first.
QByteArray withCrc(const QByteArray& data);
// True when the last two bytes are the checksum of the rest.
bool crcMatches(const QByteArray& frame);

} // namespace ModbusFrames
