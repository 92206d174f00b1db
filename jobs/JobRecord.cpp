#include "jobs/JobRecord.h"

#include "common/TextField.h"

#include <QtEndian>
#include <cstring>

namespace {
constexpr int kOrderNo = 0, kOutputPos = 50, kWaterAdd = 60, kCode = 70, kWeight = 270,
              kCreated = 370, kB01 = 378, kB02 = 928, kB03 = 938, kB04 = 948, kB05 = 958,
              kEol = 1458;
}

QByteArray JobRecord::encode() const {
    QByteArray r(kLength, ' ');
    TextField::put(r, kOrderNo, 50, OrderNo);
    TextField::put(r, kOutputPos, 10, OutputPos);
    TextField::put(r, kWaterAdd, 10, WaterAdd);
    for (int i = 1; i <= kLines; ++i) {
        TextField::put(r, kCode + 20 * (i - 1), 20, Code[size_t(i)]);
        TextField::put(r, kWeight + 10 * (i - 1), 10, Weight[size_t(i)]);
    }
    quint64 bits;
    std::memcpy(&bits, &Created, sizeof bits);
    qToLittleEndian(bits, r.data() + kCreated);
    for (int i = 0; i <= kLines; ++i)
        TextField::put(r, kB01 + 50 * i, 50, B01[size_t(i)]);
    TextField::put(r, kB02, 10, B02);
    TextField::put(r, kB03, 10, B03);
    TextField::put(r, kB04, 10, B04);
    TextField::put(r, kB05, 500, B05);
    r[kEol] = '\r';
    r[kEol + 1] = '\n';
    return r;
}

JobRecord JobRecord::decode(const QByteArray& bytes) {
    QByteArray b = bytes;
    if (b.size() < kLength)
        b.append(kLength - b.size(), ' ');
    JobRecord j;
    j.OrderNo = TextField::at(b, kOrderNo, 50);
    j.OutputPos = TextField::at(b, kOutputPos, 10);
    j.WaterAdd = TextField::at(b, kWaterAdd, 10);
    for (int i = 1; i <= kLines; ++i) {
        j.Code[size_t(i)] = TextField::at(b, kCode + 20 * (i - 1), 20);
        j.Weight[size_t(i)] = TextField::at(b, kWeight + 10 * (i - 1), 10);
    }
    const quint64 bits = qFromLittleEndian<quint64>(b.constData() + kCreated);
    std::memcpy(&j.Created, &bits, sizeof bits);
    for (int i = 0; i <= kLines; ++i)
        j.B01[size_t(i)] = TextField::at(b, kB01 + 50 * i, 50);
    j.B02 = TextField::at(b, kB02, 10);
    j.B03 = TextField::at(b, kB03, 10);
    j.B04 = TextField::at(b, kB04, 10);
    j.B05 = TextField::at(b, kB05, 500);
    return j;
}

QString JobRecord::rawOrderNo(const QByteArray& bytes) {
    return TextField::rawAt(bytes, kOrderNo, 50);
}

QString recipeListEntry(const QByteArray& recordBytes) {
    return JobRecord::rawOrderNo(recordBytes);
}

QString queueListEntry(const JobRecord& job) {
    return job.OrderNo + QStringLiteral("---") + job.OutputPos;
}
