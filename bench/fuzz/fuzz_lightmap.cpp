// DYE_LIGHT.txt as found on disk: any bytes, any length.
#include "FuzzSupport.h"
#include "common/TextField.h"
#include "devices/LightMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString in = fuzz::scratch("light.txt"), out1 = fuzz::scratch("light1.txt"),
                  out2 = fuzz::scratch("light2.txt");
    fuzz::writeFile(in, fuzz::bytes(data, size));
    LightMap m1, m2;
    FUZZ_CHECK(m1.load(in).ok());
    // Bytes that are no code page 950 text load as characters that cannot be stored again:
    // the save refuses them rather than writing something else.
    QString all;
    for (int j = 1; j <= LightMap::kPositions; ++j)
        all += m1.code(j);
    if (!TextField::unstorable(all).isEmpty()) {
        FUZZ_CHECK(!m1.save(out1).ok());
        return 0;
    }
    FUZZ_CHECK(m1.save(out1).ok());
    FUZZ_CHECK(m2.load(out1).ok());
    FUZZ_CHECK(m2.save(out2).ok());
    const QByteArray a = fuzz::readFile(out1);
    FUZZ_CHECK(a.size() == LightMap::kPositions * LightMap::kRecordLength);
    FUZZ_CHECK(a == fuzz::readFile(out2));
    for (int j = 1; j <= LightMap::kPositions; ++j) {
        const QString code = m2.code(j);
        if (!code.isEmpty() && !code.contains(QLatin1Char(' '))) {
            const int found = m2.lookup(code);
            FUZZ_CHECK(found >= 1 && found <= j);
        }
    }
    return 0;
}
