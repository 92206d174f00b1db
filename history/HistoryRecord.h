#pragma once
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <array>
#include <string_view>

// The month's history file: its name, the layout of its records and the decoding of their
// fields. The sequencer appends to it (jobs/History.h); the history browser, the
// history table and the order search read it. All of them take the name, the offsets and
// the field decoding from here.

// The file of a month: "DATE_yyyymm.txt" in the folder "data" of the working folder.
namespace MonthFile {
QString folder();
// "DATE_202403.txt" for any day of March 2024.
QString name(const QDate& month);
// The first day of the month a file name stands for; invalid when the name is not exactly
// DATE_yyyymm.txt.
QDate month(const QString& name);
} // namespace MonthFile

// "data/DATE_yyyymm.txt" for the month of `t`, relative to the working folder.
QString historyFileName(const QDateTime& t);

// One record of a month's history file: 1600 bytes, fields back to back, code page 950
// text padded with spaces, ending in CR LF.
namespace HistoryLayout {

constexpr int kLength = 1600;
constexpr int kLines = 10;

constexpr int kOrderNo = 0, kOrderNoWidth = 50;
constexpr int kSpare1 = 50, kSpare2 = 60, kSpare3 = 70, kSpareWidth = 10;
constexpr int kCodeWidth = 20, kTargetWidth = 10, kActualWidth = 10, kB01Width = 50;
constexpr int kStampText = 480, kStampTextWidth = 30; // "2024/03/02 09:05:07"
constexpr int kStamp = 510;                           // 8 bytes, OLE Automation date
constexpr int kSpare4 = 1068;
constexpr int kEol = 1598;

// Line i = 1..10.
constexpr int code(int i) {
    return 80 + kCodeWidth * (i - 1);
}
constexpr int target(int i) {
    return 280 + kTargetWidth * (i - 1);
}
constexpr int actual(int i) {
    return 380 + kActualWidth * (i - 1);
}
constexpr int b01(int i) {
    return 518 + kB01Width * i;
} // B01(0) is not written

// A field's bytes as a view into the record: up to its first zero byte, padding kept.
// The readers that must be quick work on these views; text() decodes the code page only
// when a byte above ASCII is there.
struct Field {
    const char* p = nullptr;
    int n = 0;

    bool empty() const { return n == 0; }
    std::string_view view() const { return {p, size_t(n)}; }
    bool ascii() const;
    // Leading and trailing spaces removed.
    Field trimmed() const;
    QString text() const;
};
Field field(const char* record, int offset, int width);

} // namespace HistoryLayout

// A record decoded whole, the form the sequencer writes and a reprint reads. Lines keep
// their own index, so a job with a gap leaves that line's fields blank.
struct HistoryRecord {
    static constexpr int kLength = HistoryLayout::kLength;
    static constexpr int kLines = HistoryLayout::kLines;

    QString OrderNo;                        // 0, 50
    std::array<QString, kLines + 1> Code;   // [1..10]: 80 + 20 (i - 1)
    std::array<QString, kLines + 1> Target; // [1..10]: 280 + 10 (i - 1)
    std::array<QString, kLines + 1> Actual; // [1..10]: 380 + 10 (i - 1)
    std::array<QString, kLines + 1> B01;    // [1..10]: 518 + 50 i ([0] not written)
    QDateTime Completed; // StampText (480, 30) and Stamp (510, 8, OLE date) are made from it

    // "2024/03/02 09:05:07"
    static QString stampText(const QDateTime& t);

    QByteArray encode() const;
    static HistoryRecord decode(const QByteArray& bytes);
};
