#pragma once
#include <QByteArray>
#include <QString>
#include <array>

// One job: an order number, a few header values and up to ten lines. 1460 bytes on disk,
// fields back to back, code page 950 text padded with spaces, ending in CR LF.
struct JobRecord {
    static constexpr int kLength = 1460;
    static constexpr int kLines = 10;

    QString OrderNo;                        // 0, 50
    QString OutputPos;                      // 50, 10
    QString WaterAdd;                       // 60, 10
    std::array<QString, kLines + 1> Code;   // [1..10]: 70 + 20 (i - 1), 20 each
    std::array<QString, kLines + 1> Weight; // [1..10]: 270 + 10 (i - 1), 10 each
    double Created = 0.0;                   // 370, 8: OLE Automation date, little-endian
    std::array<QString, kLines + 1> B01;    // [0..10]: 378 + 50 i, 50 each ([0] unused)
    QString B02, B03, B04;                  // 928, 938, 948: 10 each
    QString B05;                            // 958, 500

    QByteArray encode() const;
    // Text fields are stripped of their padding. `raw` keeps the unstripped OrderNo field
    // for the recipe list, which shows it as stored.
    static JobRecord decode(const QByteArray& bytes);
    static QString rawOrderNo(const QByteArray& bytes);

    // A line exists when its code, stripped, is not empty.
    bool hasLine(int i) const { return !Code[size_t(i)].isEmpty(); }

    friend bool operator==(const JobRecord&, const JobRecord&) = default;
};

// The display forms of the two job lists of the main window.
QString recipeListEntry(const QByteArray& recordBytes); // the raw 50-character OrderNo
QString queueListEntry(const JobRecord& job);           // OrderNo + "---" + OutputPos
