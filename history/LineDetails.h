#pragma once
#include "history/HistorySet.h"

#include <QString>

// What the history files do not hold about an order line: the balance it was weighed on
// and the barrel it went to. Each answer may be blank (unknown). `prepare` is called once
// for each set the table shows, before any question about it, so that an implementation
// can fetch what it needs for the whole set at once.
class LineDetails {
public:
    virtual ~LineDetails() = default;
    virtual void prepare(const HistorySet& set) = 0;
    virtual QString balance(const HistorySet& set, const HistoryLine& line) const = 0;
    virtual QString barrel(const HistorySet& set, const HistoryLine& line) const = 0;
};
