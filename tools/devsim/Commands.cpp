#include "Bench.h"

#include "Balance.h"
#include "Events.h"

#include <sstream>

namespace devsim {

void Bench::command(const std::string& text) {
    std::istringstream in(text);
    std::string verb, who;
    in >> verb >> who;
    if (verb.empty())
        return;
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
