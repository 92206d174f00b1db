#pragma once
// Where the automatic operator finds what the station shows, in the station's own files of
// its working folder. devsim reads them independently of the station's code.
#include <cstddef>
#include <string>
#include <vector>

namespace devsim::layout {

// START_DISPEN.txt: 1460-byte job records, the head of the queue first.
constexpr size_t kJobRecord = 1460;
constexpr size_t kOrderAt = 0, kOrderWidth = 50;
constexpr size_t kCodeAt = 70, kCodeWidth = 20;      // line i (0-based) at kCodeAt + 20 i
constexpr size_t kTargetAt = 270, kTargetWidth = 10; // line i at kTargetAt + 10 i
constexpr int kLines = 10;

// set.txt: 100-byte fields; the weight deciding the balance is the 22nd.
constexpr size_t kThresholdAt = 2100, kThresholdWidth = 100;

// DYE_LIGHT.txt: 120 records of 50 bytes, the code of light n in record n.
constexpr size_t kLightRecord = 50;
constexpr int kLights = 120;

// JOURNAL.txt: the job record, its history record, then lines of text.
constexpr size_t kHistoryRecord = 1600;
constexpr size_t kJournalText = kJobRecord + kHistoryRecord;

} // namespace devsim::layout

namespace devsim {

// The job at the head of the queue as the operator reads it.
struct Job {
    std::string record;
    std::string order;
    std::vector<std::string> codes; // 10 lines, trimmed
    std::vector<double> targets;
};

std::string trim(const std::string& s);
std::string readFile(const std::string& path);

} // namespace devsim
