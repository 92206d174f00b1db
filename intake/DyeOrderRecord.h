#pragma once
#include <QByteArray>
#include <QDate>
#include <QString>
#include <array>

// One dye order for the monthly dye order file: 932 bytes, code page 950 text fields
// padded with spaces, ending in CR LF.
struct DyeOrderRecord {
    static constexpr int kLength = 932;
    static constexpr int kSlots = 15;

    QString OrderNo;                         // 0, 30
    QString Note1;                           // 30, 6 (dye vat number)
    QString Note2;                           // 36, 6
    QString Note3;                           // 42, 6
    QString Code;                            // 48, 30
    QString GoodsWeight;                     // 78, 10 (kg)
    QString LiquorRatio;                     // 88, 6
    QString TotalWeight;                     // 94, 10 (kg)
    QString Material;                        // 104, 20
    std::array<QString, kSlots + 1> DyeCode; // [1..15]: 124 + 20 (i - 1), 20 each
    std::array<QString, kSlots + 1> Recipe;  // [1..15]: 424 + 8 (i - 1), 8 each
    std::array<QString, kSlots + 1> Weight;  // [1..15]: 544 + 9 (i - 1), 9 each (g)
    QString Reserve;                         // 679, 251

    QByteArray encode() const;
};

// "G" + year (4 digits) + month (2 digits) + ".666".
QString monthlyDyeOrderFileName(const QDate& date);
