#pragma once
// The simulator's clock and event log: one line an event, "<ms> <event> <arguments>".
#include <csignal>
#include <cstdio>
#include <string>

namespace devsim {

// A byte on a 9600-baud line: 10 bit times.
constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;
// The silence that ends a Modbus RTU frame: 3.5 characters.
constexpr double kSilenceMs = 3.5 * kByteMs;

double nowMs();
long long nowNs();

extern double g_start;
extern FILE* g_log;
// Set by the signal handlers and by "quit".
extern volatile std::sig_atomic_t g_quit;

// An event for the log and the person watching.
void logEvent(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A frequent event (every poll), for the log only.
void logQuiet(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string hexOf(const unsigned char* p, size_t n);

} // namespace devsim
