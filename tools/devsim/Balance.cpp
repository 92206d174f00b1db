#include "Balance.h"

namespace devsim {

Balance g_small{"small", 3, 0.01, 8, "   \r\n"};
Balance g_large{"large", 4, 0.1, 7, " \r\n"};

Balance* balanceNamed(const std::string& n) {
    if (n == "small" || n == "3")
        return &g_small;
    if (n == "large" || n == "4")
        return &g_large;
    return nullptr;
}

} // namespace devsim
