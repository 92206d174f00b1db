// The three field-mapping files as found on disk. The input is cut into set2_1.txt,
// set2_2.txt and set2.txt at the places its first two bytes name.
#include "FuzzSupport.h"
#include "config/FieldMapping.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const QByteArray rest = fuzz::bytes(data + 2, size - 2);
    const qsizetype a = qMin<qsizetype>(rest.size(), data[0] * 4),
                    b = qMin<qsizetype>(rest.size() - a, data[1] * 32);
    const QString in = fuzz::scratch("mapping-in"), out1 = fuzz::scratch("mapping-1"),
                  out2 = fuzz::scratch("mapping-2");
    for (const QString& d : {in, out1, out2}) {
        QDir(d).removeRecursively();
        QDir().mkpath(d);
    }
    fuzz::writeFile(in + QStringLiteral("/set2_1.txt"), rest.left(a));
    fuzz::writeFile(in + QStringLiteral("/set2_2.txt"), rest.mid(a, b));
    fuzz::writeFile(in + QStringLiteral("/set2.txt"), rest.mid(a + b));

    FieldMapping m1, m2;
    FUZZ_CHECK(m1.load(in).ok());
    const int count = m1.fieldCount();
    FUZZ_CHECK(count >= 0 && count <= FieldMapping::kMaxField);
    for (int i = 0; i < FieldMapping::kEntryCount; ++i)
        (void)m1.column(i);
    FUZZ_CHECK(m1.save(out1).ok());
    FUZZ_CHECK(m2.load(out1).ok());
    FUZZ_CHECK(m2.save(out2).ok());
    for (const char* name : {"/set2_1.txt", "/set2_2.txt", "/set2.txt"})
        FUZZ_CHECK(fuzz::readFile(out1 + QLatin1String(name)) ==
                   fuzz::readFile(out2 + QLatin1String(name)));
    // Bytes that are not code page 950 are replaced on the first save; from then on the
    // mapping reads back as it was saved.
    FieldMapping m3;
    FUZZ_CHECK(m3.load(out2).ok());
    FUZZ_CHECK(m2.fieldCount() == m3.fieldCount());
    FUZZ_CHECK(m2.importMode() == m3.importMode());
    FUZZ_CHECK(m2.query() == m3.query());
    return 0;
}
