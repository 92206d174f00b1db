#pragma once

// Tick intervals of the balance link.
namespace BalanceLinkTiming {
// Mode "1": the balances send by themselves; every tick takes what has arrived.
constexpr int kTextModeTickMs = 20;
// Mode "2": one poll cycle is 17 ticks, the reply read at the 14th after the request.
// At 9600 baud an 8-byte request and an 11-byte reply take about 20 ms on the line plus
// the slave's turnaround, so the tick is paced to read about 39 ms after the request.
constexpr int kModbusTickMs = 3;
} // namespace BalanceLinkTiming
