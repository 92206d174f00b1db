#pragma once
#include "history/HistorySet.h"

// What the history files do not hold about the order lines of a set: the balance each was
// weighed on and the barrel it went to. `fill` runs on the thread that decoded the set,
// before anything shows it, and may leave any of them blank (unknown).
class LineDetails {
public:
    virtual ~LineDetails() = default;
    virtual void fill(HistorySet& set) const = 0;
};
