#include "Balance.h"

namespace devsim {

Marks g_marks = Marks::Off;
Balance g_small{"small", 3, 0.01, 8, "   \r\n", 3000};
Balance g_large{"large", 4, 0.1, 7, " \r\n", 28000};

Balance* balanceNamed(const std::string& n) {
    if (n == "small" || n == "3")
        return &g_small;
    if (n == "large" || n == "4")
        return &g_large;
    return nullptr;
}

} // namespace devsim
