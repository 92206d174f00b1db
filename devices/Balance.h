#pragma once
#include <array>

// The two balances of the bench. Inside the code a balance is always this type; the numbers
// that windows, files and frames fix are converted where they are met:
// - the main window's Label1(0) shows the large balance, Label1(1) the small one;
// - a line's LineBalance is 1 for the large balance, 2 for the small one;
// - on the Modbus bus the large balance is slave 4, the small one slave 3;
// - the link's PollBalance and the zeroing's ZeroTarget count 0 small, 1 large.
enum class Balance { Large, Small };

inline constexpr std::array<Balance, 2> kBalances{Balance::Large, Balance::Small};

constexpr Balance otherBalance(Balance b) {
    return b == Balance::Large ? Balance::Small : Balance::Large;
}

// Label1(index) of the main window.
constexpr int labelIndex(Balance b) {
    return b == Balance::Large ? 0 : 1;
}
constexpr Balance balanceAtLabel(int index) {
    return index == 0 ? Balance::Large : Balance::Small;
}

// PollBalance, ZeroTarget: 0 small, 1 large.
constexpr int smallFirstIndex(Balance b) {
    return b == Balance::Small ? 0 : 1;
}

// What a balance says of its reading, when its marks are read (BalanceMarks): Unknown while
// they are off, or when a frame's mark is none of the configured ones.
enum class Stability { Unknown, Stable, Unstable, Overload };
