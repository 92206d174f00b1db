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

struct SimulatedBench {
    std::string dir;
    Line small{"small"}, large{"large"}, bus{"bus"}, lights{"lights"};
    Line scanner{"scanner"};     // a barcode scanner fixed at the bench: sends what `scan` says
    std::map<int, Slave> slaves; // 1..16 lights, 3 and 4 balances (on different lines)
    std::map<int, Slave> busSlaves;
    std::set<int> lit;
    double rate = 10;      // text frames per second per balance; 0 = back to back
    double turnaround = 3; // ms from the end of a request to its reply, for every slave
    // Per device: "small", "large", "lights" (every module) or "lights N" (module N).
    std::map<std::string, double> turnarounds;
    // Slaves made to answer every request with an exception: light modules by address,
    // the balances by their slave address (3, 4).
    std::map<int, int> lightExceptions, balanceExceptions;
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
    // What has arrived on a line: on a Modbus line each byte crosses the line after the one
    // before it, text is ignored.
    void takeIn(Line& l, double now);
    // A Modbus frame is over after 3.5 characters of silence: it is checked and answered.
    void endFrames(double now);
    // Queues the balances' text frames that are due.
    void textFrames(double now);
    // One command line (standard input or the control pipe).
    void command(const std::string& text);

    double turnaroundFor(const Line& l, int address) const;
    // The turnaround of every slave (empty device) or of "small", "large", "lights" or
    // "lights N"; false for a value that is not a number of milliseconds.
    bool setTurnaround(const std::string& device, const std::string& ms);
    // "turnaround ..." and "exception ..." commands (the words after the verb).
    bool modbusCommand(const std::string& verb, std::vector<std::string> words);

private:
    void receiveByte(Line& l, unsigned char byte, double now);
    void endFrame(Line& l);
    void dispatch(Line& l, const std::vector<unsigned char>& frame, double arrived);
    // Refuses the request (its exception code) or carries it out (0, the reply in `reply`).
    int carryOut(Line& l, Slave& s, const std::vector<unsigned char>& frame,
                 std::vector<unsigned char>& reply);
    void broadcast(Line& l, const std::vector<unsigned char>& frame);
    void lightChanges(int module, const std::vector<unsigned char>& frame,
                      const std::vector<bool>& before, const uint8_t* after);
};

} // namespace devsim
