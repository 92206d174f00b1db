#include "intake/DyeOrderRecord.h"

#include "common/TextField.h"

QByteArray DyeOrderRecord::encode() const {
    QByteArray r(kLength, ' ');
    using TextField::put;
    put(r, 0, 30, OrderNo);
    put(r, 30, 6, Note1);
    put(r, 36, 6, Note2);
    put(r, 42, 6, Note3);
    put(r, 48, 30, Code);
    put(r, 78, 10, GoodsWeight);
    put(r, 88, 6, LiquorRatio);
    put(r, 94, 10, TotalWeight);
    put(r, 104, 20, Material);
    for (int i = 1; i <= kSlots; ++i) {
        put(r, 124 + 20 * (i - 1), 20, DyeCode[size_t(i)]);
        put(r, 424 + 8 * (i - 1), 8, Recipe[size_t(i)]);
        put(r, 544 + 9 * (i - 1), 9, Weight[size_t(i)]);
    }
    put(r, 679, 251, Reserve);
    r[930] = '\r';
    r[931] = '\n';
    return r;
}

QString monthlyDyeOrderFileName(const QDate& date) {
    return QStringLiteral("G%1%2.666")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'));
}
