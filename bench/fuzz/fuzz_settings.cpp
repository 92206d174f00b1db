// set.txt as found on disk: any bytes, any length.
#include "FuzzSupport.h"
#include "common/TextField.h"
#include "config/SettingsFile.h"
#include "config/StationSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString in = fuzz::scratch("set.txt"), out1 = fuzz::scratch("set1.txt"),
                  out2 = fuzz::scratch("set2.txt");
    fuzz::writeFile(in, fuzz::bytes(data, size));
    QFile::remove(out1);
    QFile::remove(out2);
    StationSettings s1, s2;
    FUZZ_CHECK(SettingsFile::load(in, s1).ok());
    for (int i = 0; i < StationSettings::kOptionCount; ++i)
        FUZZ_CHECK(s1.option(Option(i)) >= 0 && s1.option(Option(i)) <= 2);
    // Bytes that are no code page 950 text load as characters that cannot be stored again:
    // the save refuses them rather than writing something else.
    QString all;
    for (int i = 0; i < StationSettings::kTextCount; ++i)
        all += s1.text(i);
    if (!TextField::unstorable(all).isEmpty()) {
        FUZZ_CHECK(!SettingsFile::save(out1, s1).ok());
        return 0;
    }
    FUZZ_CHECK(SettingsFile::save(out1, s1).ok());
    FUZZ_CHECK(SettingsFile::load(out1, s2).ok());
    FUZZ_CHECK(SettingsFile::save(out2, s2).ok());
    const QByteArray a = fuzz::readFile(out1), b = fuzz::readFile(out2);
    FUZZ_CHECK(a.size() == 11400);
    FUZZ_CHECK(a == b);
    // Saving over the fuzzed file keeps its length or grows it to a whole file, never shrinks.
    FUZZ_CHECK(SettingsFile::save(in, s1).ok());
    FUZZ_CHECK(fuzz::readFile(in).size() >= qMax<qsizetype>(qsizetype(size), 11400));
    return 0;
}
