#pragma once
// The whole bench: the lines, the Modbus slaves behind them, the text balances, the
// commands and the automatic operator.
#include "AutoOperator.h"
#include "Line.h"
#include "ModbusSlave.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace devsim {

struct Bench {
    std::string dir;
    Line small{"small"}, large{"large"}, bus{"bus"}, lights{"lights"};
    Line scanner{"scanner"};     // a barcode scanner fixed at the bench: sends what `scan` says
    std::map<int, Slave> slaves; // 1..16 lights, 3 and 4 balances (on different lines)
    std::map<int, Slave> busSlaves;
    std::set<int> lit;
    double rate = 10; // text frames per second per balance; 0 = back to back
    double turnaround = 3;
    bool frameLog = false;
    bool ramp = false;
    double nextSmallFrame = 0, nextLargeFrame = 0;
    AutoOperator autoOperator;

    std::vector<Line*> all() { return {&small, &large, &bus, &lights, &scanner}; }
    Line* lineNamed(const std::string& n) {
        for (Line* l : all())
            if (l->name == n)
                return l;
        return nullptr;
    }

    bool start();
    // What has arrived on a line: Modbus frames are cut and answered, text is ignored.
    void takeIn(Line& l, double now);
    // A partial frame followed by silence is a broken frame.
    void dropStalePartial(Line& l, double now);
    // Queues the balances' text frames that are due.
    void textFrames(double now);
    // One command line (standard input or the control pipe).
    void command(const std::string& text);

private:
    void cutFrames(Line& l, double now);
    void dispatch(Line& l, const std::vector<unsigned char>& frame, double arrived);
    void lightChanges(int module, const std::vector<unsigned char>& frame,
                      const std::vector<bool>& before, const uint8_t* after);
};

} // namespace devsim
