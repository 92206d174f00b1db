#include "common/TextField.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace TextField {

namespace {
constexpr const char* kCodec = "windows-950";
}

QByteArray toCp950(const QString& text) {
    QStringEncoder enc(kCodec, QStringConverter::Flag::Stateless);
    return enc.encode(text);
}

QString fromCp950(const QByteArray& bytes) {
    QStringDecoder dec(kCodec, QStringConverter::Flag::Stateless);
    return dec.decode(bytes);
}

QString unstorable(const QString& text) {
    QString bad;
    QStringEncoder enc(kCodec, QStringConverter::Flag::Stateless);
    QStringDecoder dec(kCodec, QStringConverter::Flag::Stateless);
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QStringView ch = QStringView(text).mid(i, n);
        // A round trip: a character the table lacks comes back as '?', and one it maps to
        // a look-alike comes back changed. (hasError() is not used: resetting the state
        // does not clear it.)
        const QByteArray bytes = enc.encode(ch);
        if (QString(dec.decode(bytes)) != ch && !bad.contains(ch))
            bad += ch;
        i += n;
    }
    return bad;
}

QString listed(const QString& characters) {
    QString out;
    for (qsizetype i = 0; i < characters.size();) {
        const qsizetype n =
            (characters.at(i).isHighSurrogate() && i + 1 < characters.size()) ? 2 : 1;
        out += QStringLiteral("「") + characters.mid(i, n) + QStringLiteral("」");
        i += n;
    }
    return out;
}

QByteArray encode(const QString& text, int width) {
    QByteArray out;
    out.reserve(width);
    QStringEncoder enc(kCodec, QStringConverter::Flag::Stateless);
    // Encode character by character (a surrogate pair counts as one) so that the cut
    // falls between characters.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray bytes = enc.encode(QStringView(text).mid(i, n));
        if (out.size() + bytes.size() > width)
            break;
        out += bytes;
        i += n;
    }
    out.append(width - out.size(), ' ');
    return out;
}

void put(QByteArray& record, int offset, int width, const QString& text) {
    record.replace(offset, width, encode(text, width));
}

QString decodeRaw(const QByteArray& bytes) {
    const qsizetype nul = bytes.indexOf('\0');
    return fromCp950(nul < 0 ? bytes : bytes.left(nul));
}

QString rawAt(const QByteArray& record, int offset, int width) {
    return decodeRaw(record.mid(offset, width));
}

QString trimSpaces(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && text.at(e - 1) == QLatin1Char(' '))
        --e;
    return text.mid(b, e - b);
}

QString decode(const QByteArray& bytes) {
    return trimSpaces(decodeRaw(bytes));
}

QString at(const QByteArray& record, int offset, int width) {
    return decode(record.mid(offset, width));
}

} // namespace TextField
