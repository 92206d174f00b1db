#pragma once
// A balance: what lies on its pan, its tare, and its text frame.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace devsim {

// Where the balances put their stability and overload marks (--marks): not at all (the
// first character is always "S"), as the first character (S, U, O), as a header in place of
// it (ST, US, OL), or in register 1 of the Modbus reply (bit 8 stable, bit 9 overload).
enum class Marks { Off, First, Header, Modbus };
extern Marks g_marks;

// A reading that changed within this time is unstable.
constexpr double kSettleMs = 500;

struct Balance {
    const char* name;
    int slave;
    double unit;         // grams per count
    int width;           // number field width of the text frame
    const char* tail;    // what follows the "g"
    double capacity;     // grams on the pan past which it is overloaded
    long long gross = 0; // counts on the pan
    long long tare = 0;
    bool silent = false;
    long long watched = 0;    // the reading when last looked at
    double changedAt = -1e12; // when it last changed (ms)
    long long reading() const { return gross - tare; }
    long long counts(double grams) const { return llround(grams / unit); }
    double grams() const { return double(reading()) * unit; }

    // Notes a change of the reading; called often (every turn of the main loop).
    void watch(double now) {
        if (reading() != watched) {
            watched = reading();
            changedAt = now;
        }
    }
    bool overloaded() const { return double(gross) * unit > capacity; }
    bool stable(double now) const { return now - changedAt >= kSettleMs; }
    // Register 1 of the Modbus reply: the sign digit, and the marks when they are on.
    uint16_t register1(double now) const {
        uint16_t r = reading() < 0 ? 0x0000 : 0x0001;
        if (g_marks == Marks::Modbus) {
            if (stable(now))
                r |= 1 << 8;
            if (overloaded())
                r |= 1 << 9;
        }
        return r;
    }

    std::vector<unsigned char> textFrame(double now) const {
        const long long r = reading();
        char number[32];
        snprintf(number, sizeof number, "%*.*f", width, unit < 0.05 ? 2 : 1,
                 std::fabs(double(r) * unit));
        const int state = overloaded() ? 2 : stable(now) ? 0 : 1;
        std::string f = "S";
        std::string rest = tail;
        if (g_marks == Marks::First) {
            f = std::string(1, "SUO"[state]);
        } else if (g_marks == Marks::Header) {
            // The header takes the first character's place and one blank of the tail, so
            // the frame keeps its length.
            static const char* const headers[] = {"ST", "US", "OL"};
            f = headers[state];
            rest = rest.substr(1);
        }
        f += r < 0 ? '-' : '+';
        if (int(strlen(number)) > width)
            f += std::string(size_t(width - 6), ' ') + "OVERLD";
        else
            f += number;
        f += 'g';
        f += rest;
        return {f.begin(), f.end()};
    }
};

extern Balance g_small;
extern Balance g_large;
// "small" or "3", "large" or "4".
Balance* balanceNamed(const std::string& n);

} // namespace devsim
