#include "SimulatedBench.h"

#include "Balance.h"
#include "Events.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace devsim {

namespace {

// "small", "large", "lights" or "lights N" (N a module, 1..16) from the words given; empty
// when they name no Modbus device.
std::string deviceOf(const std::vector<std::string>& words) {
    if (words.size() == 1 && (words[0] == "small" || words[0] == "large" || words[0] == "lights"))
        return words[0];
    if (words.size() == 2 && words[0] == "lights") {
        char* end = nullptr;
        const long m = strtol(words[1].c_str(), &end, 10);
        if (*end == 0 && m >= 1 && m <= 16)
            return "lights " + std::to_string(m);
    }
    return {};
}

// The light modules or the balance a device name stands for, as slave addresses.
std::vector<int> addressesOf(const std::string& device) {
    if (device == "small")
        return {3};
    if (device == "large")
        return {4};
    if (device == "lights") {
        std::vector<int> all;
        for (int m = 1; m <= 16; ++m)
            all.push_back(m);
        return all;
    }
    return {std::stoi(device.substr(7))};
}

} // namespace

// "turnaround MS" for every slave, "turnaround DEVICE MS" for one device.
bool SimulatedBench::setTurnaround(const std::string& device, const std::string& ms) {
    char* end = nullptr;
    const double v = strtod(ms.c_str(), &end);
    if (ms.empty() || *end != 0 || v < 0 || v > 10000)
        return false;
    if (device.empty()) {
        turnaround = v;
        turnarounds.clear();
    } else if (device == "lights") {
        for (auto it = turnarounds.begin(); it != turnarounds.end();)
            it = it->first.rfind("lights ", 0) == 0 ? turnarounds.erase(it) : std::next(it);
        turnarounds[device] = v;
    } else {
        turnarounds[device] = v;
    }
    return true;
}

bool SimulatedBench::modbusCommand(const std::string& verb, std::vector<std::string> words) {
    if (verb == "turnaround") {
        if (words.empty())
            return false;
        const std::string ms = words.back();
        words.pop_back();
        const std::string device = deviceOf(words);
        if ((!words.empty() && device.empty()) || !setTurnaround(device, ms))
            return false;
        logEvent("turnaround %s %s", device.empty() ? "all" : device.c_str(), ms.c_str());
        return true;
    }
    if (verb != "exception")
        return false;
    // "exception DEVICE CODE", "exception DEVICE off", "exception off [DEVICE]".
    std::string setting;
    if (!words.empty() && words.front() == "off") {
        setting = "off";
        words.erase(words.begin());
    } else if (!words.empty()) {
        setting = words.back();
        words.pop_back();
    }
    const std::string device = deviceOf(words);
    if (setting != "off" && device.empty())
        return false;
    int code = 0;
    if (setting != "off") {
        char* end = nullptr;
        const long c = strtol(setting.c_str(), &end, 16);
        if (setting.empty() || *end != 0 || c < 1 || c > 0x7F)
            return false;
        code = int(c);
    } else if (!words.empty() && device.empty()) {
        return false;
    }
    if (device.empty()) {
        lightExceptions.clear();
        balanceExceptions.clear();
        logEvent("exception off");
        return true;
    }
    std::map<int, int>& table =
        device.rfind("lights", 0) == 0 ? lightExceptions : balanceExceptions;
    for (int a : addressesOf(device))
        if (code)
            table[a] = code;
        else
            table.erase(a);
    if (code)
        logEvent("exception %s %02X", device.c_str(), code);
    else
        logEvent("exception %s off", device.c_str());
    return true;
}

void SimulatedBench::command(const std::string& text) {
    std::istringstream in(text);
    std::string verb, who;
    in >> verb >> who;
    if (verb.empty())
        return;
    if (verb == "turnaround" || verb == "exception") {
        std::istringstream all(text);
        std::vector<std::string> words;
        for (std::string w; all >> w;)
            words.push_back(w);
        words.erase(words.begin());
        if (!modbusCommand(verb, words))
            logEvent("unknown-command %s", text.c_str());
        return;
    }
    double grams = 0;
    const bool hasNumber = bool(in >> grams);
    Balance* b = balanceNamed(who);
    if (verb == "quit") {
        g_quit = 1;
    } else if (verb == "status") {
        std::string s;
        for (int p : lit)
            s += " " + std::to_string(p);
        logEvent("status small %.2f large %.1f lit%s", g_small.grams(), g_large.grams(),
                 s.empty() ? " none" : s.c_str());
    } else if ((verb == "unplug" || verb == "plug") && lineNamed(who)) {
        Line* l = lineNamed(who);
        if (verb == "unplug")
            l->unplug();
        else if (!l->plugged)
            l->plug();
    } else if (verb == "scan" && !who.empty()) {
        // The text as it stands after the verb, then CR LF, as a fixed scanner sends a code.
        const std::string code = text.substr(text.find(who));
        std::vector<unsigned char> bytes(code.begin(), code.end());
        bytes.push_back('\r');
        bytes.push_back('\n');
        scanner.send(bytes, nowMs());
        logEvent("scan %s", code.c_str());
    } else if (b && verb == "set" && hasNumber) {
        b->gross = b->tare + b->counts(grams);
        logEvent("weight %s %.2f", b->name, b->grams());
    } else if (b && (verb == "put" || verb == "pour") && hasNumber) {
        b->gross += b->counts(grams);
        logEvent("weight %s %.2f", b->name, b->grams());
    } else if (b && verb == "zero") {
        b->tare = b->gross;
        logEvent("weight %s %.2f", b->name, b->grams());
    } else if (b && verb == "take") {
        b->gross = b->tare = 0;
        logEvent("weight %s %.2f", b->name, b->grams());
    } else if (b && verb == "silent") {
        b->silent = true;
        logEvent("silent %s", b->name);
    } else if (b && verb == "resume") {
        b->silent = false;
        logEvent("resume %s", b->name);
    } else {
        logEvent("unknown-command %s", text.c_str());
    }
}

} // namespace devsim
