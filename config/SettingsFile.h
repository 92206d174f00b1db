#pragma once
#include "common/Outcome.h"
#include "config/StationSettings.h"

// set.txt: 100-byte records. Records 1..28 hold the texts, 101..114 the option boxes;
// 29..100 are never written (zero bytes once the file grows past them). A complete file
// is 11400 bytes. The file holds the database password, so it is created readable and
// writable by its owner only.
namespace SettingsFile {

constexpr int kRecordLength = 100;
constexpr int kFirstOptionRecord = 101;

Outcome load(const QString& path, StationSettings& settings);
// Refuses (and writes nothing) when a text holds a character code page 950 cannot hold.
Outcome save(const QString& path, const StationSettings& settings);

// The value of an option record: the lenient number of its text, rounded; anything
// other than 0, 1 or 2 reads as 0 (clear), the save never writes such a value.
int optionValue(const QString& recordText);

} // namespace SettingsFile
