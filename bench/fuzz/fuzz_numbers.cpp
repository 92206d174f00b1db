// The lenient number parse of texts typed by operators, read from files and balances.
#include "FuzzSupport.h"
#include "common/Numbers.h"

#include <cmath>

static void check(const QString& text) {
    const double v = leadingNumber(text);
    FUZZ_CHECK(!std::isnan(v));
    const Decimal d = Decimal::parse(text);
    // The exact form and the binary form agree on every weight-sized value (the exact one
    // cuts beyond the sixth decimal). Beyond the range of a double the binary parse reads
    // 0 and the exact one saturates, so only sizes both can hold are compared.
    if (std::isfinite(v) && std::fabs(v) < 1e9 && std::fabs(d.toDouble()) < 1e9)
        FUZZ_CHECK(std::fabs(d.toDouble() - v) <= 1.000001e-6 + std::fabs(v) * 1e-15);
    FUZZ_CHECK(Decimal::parse(d.toString()) == d);
    (void)d.roundedTo(10000);
    (void)d.roundedTo(100000);
    if (std::isfinite(v))
        FUZZ_CHECK(leadingNumber(shortestDecimal(v)) == v || v == 0.0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    check(QString::fromLatin1(in));
    check(QString::fromUtf8(in));
    return 0;
}
