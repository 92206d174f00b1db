#pragma once
#include <QByteArray>
#include <QString>

// Fixed-width text fields in code page 950 (Traditional Chinese, the station's ANSI code
// page): left-aligned, padded with spaces, cut at the width on a character boundary.
namespace TextField {

// The text encoded into exactly `width` bytes. A double-byte character that would not fit
// whole is left out, so the field never ends in half a character.
QByteArray encode(const QString& text, int width);

// Writes encode(text, width) into `record` at `offset`.
void put(QByteArray& record, int offset, int width, const QString& text);

// The field decoded as it stands (padding kept); bytes that are not valid code page 950
// decode as U+FFFD, and a zero byte ends the text.
QString decodeRaw(const QByteArray& bytes);
QString rawAt(const QByteArray& record, int offset, int width);

// The field decoded with leading and trailing spaces removed, as readers use it.
QString decode(const QByteArray& bytes);
QString at(const QByteArray& record, int offset, int width);

// Code page 950 bytes of a text and back, for whole texts (no width).
QByteArray toCp950(const QString& text);
QString fromCp950(const QByteArray& bytes);

// The characters of `text` that code page 950 cannot hold, each once, in the order they
// first appear; empty when it holds them all. Stored as they stand, they would become '?'.
QString unstorable(const QString& text);
// Characters as a message names them: 「订」「单」.
QString listed(const QString& characters);

// Removes leading and trailing spaces only (the station's trim; tabs and other white
// space are kept, as a fixed-width field pads with spaces alone).
QString trimSpaces(const QString& text);

} // namespace TextField
