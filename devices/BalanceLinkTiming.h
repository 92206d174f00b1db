#pragma once

// Tick intervals of the balance link.
namespace BalanceLinkTiming {
// Mode "1": the balances send by themselves; every tick takes what has arrived.
constexpr int kTextModeTickMs = 20;
// Mode "2": each tick looks at the line; the requests are paced by the bus clock (RtuLine),
// so the tick only bounds how late an answer is seen and the next request sent.
constexpr int kModbusTickMs = 3;
} // namespace BalanceLinkTiming
