#pragma once
// A balance: what lies on its pan, its tare, and its text frame.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace devsim {

struct Balance {
    const char* name;
    int slave;
    double unit;         // grams per count
    int width;           // number field width of the text frame
    const char* tail;    // what follows the "g"
    long long gross = 0; // counts on the pan
    long long tare = 0;
    bool silent = false;
    long long reading() const { return gross - tare; }
    long long counts(double grams) const { return llround(grams / unit); }
    double grams() const { return double(reading()) * unit; }

    std::vector<unsigned char> textFrame() const {
        const long long r = reading();
        char number[32];
        snprintf(number, sizeof number, "%*.*f", width, unit < 0.05 ? 2 : 1,
                 std::fabs(double(r) * unit));
        std::string f = "S";
        f += r < 0 ? '-' : '+';
        if (int(strlen(number)) > width)
            f += std::string(size_t(width - 6), ' ') + "OVERLD";
        else
            f += number;
        f += 'g';
        f += tail;
        return {f.begin(), f.end()};
    }
};

extern Balance g_small;
extern Balance g_large;
// "small" or "3", "large" or "4".
Balance* balanceNamed(const std::string& n);

} // namespace devsim
