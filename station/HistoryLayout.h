#pragma once

// The layout of one record of a month's history file: 1600 bytes, fields back to back,
// code page 950 text padded with spaces, ending in CR LF. The history log writes it and
// the history browser reads it; both take the offsets from here.
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

} // namespace HistoryLayout
