#include "Events.h"

#include <cstdarg>
#include <time.h>

namespace devsim {

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

double g_start = nowMs();
FILE* g_log = nullptr;
volatile std::sig_atomic_t g_quit = 0;

namespace {

void writeEvent(bool echo, const char* fmt, va_list ap) {
    char text[1024];
    vsnprintf(text, sizeof text, fmt, ap);
    if (g_log) {
        fprintf(g_log, "%.1f %s\n", nowMs() - g_start, text);
        fflush(g_log);
    }
    if (echo) {
        fprintf(stdout, "%s\n", text);
        fflush(stdout);
    }
}

} // namespace

void logEvent(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    writeEvent(true, fmt, ap);
    va_end(ap);
}

void logQuiet(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    writeEvent(false, fmt, ap);
    va_end(ap);
}

std::string hexOf(const unsigned char* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

} // namespace devsim
