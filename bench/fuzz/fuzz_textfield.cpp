// Code page 950 fields as they arrive in any record file.
#include "FuzzSupport.h"
#include "common/TextField.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    const QString text = TextField::decode(in);
    FUZZ_CHECK(!text.startsWith(QLatin1Char(' ')) && !text.endsWith(QLatin1Char(' ')));
    const QString raw = TextField::decodeRaw(in);
    FUZZ_CHECK(raw.contains(text));
    for (int width : {1, 2, 10, 50, int(size)}) {
        const QByteArray field = TextField::encode(text, width);
        FUZZ_CHECK(field.size() == width);
        // A cut never leaves half a double-byte character: the field decodes cleanly
        // whenever the text itself was clean.
        if (!text.contains(QChar::ReplacementCharacter))
            FUZZ_CHECK(!TextField::decode(field).contains(QChar::ReplacementCharacter));
    }
    if (size >= 4)
        (void)TextField::at(in, int(data[0] % size), int(data[1] % (size - data[0] % size + 1)));
    const QString whole = TextField::fromCp950(in);
    if (!whole.contains(QChar::ReplacementCharacter) && !whole.contains(QChar(0)))
        FUZZ_CHECK(TextField::fromCp950(TextField::toCp950(whole)) == whole);
    // Any text (here the bytes read as UTF-16) encodes into exactly the width asked.
    const QString any = QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    FUZZ_CHECK(TextField::encode(any, 20).size() == 20);
    return 0;
}
