// `quorvel settings [FILE] [--rewrite]`: reads a settings file as the guider
// does at start and prints its 18 fields as one JSON object; with --rewrite
// writes it back as the guider does when it closes.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/clock.h"
#include "cli/commands.h"
#include "core/state.h"
#include "core/settings/paramsfile.h"

namespace {

const char* const kUsage =
    "quorvel settings [FILE] [--rewrite]   print the settings file FILE (default qv185.dat) "
    "as JSON; --rewrite saves it back as the guider does at exit (exit 1 if that fails)";

// 17 significant digits give back the exact double; JSON has no NaN or
// infinity, so those become strings.
std::string jsonDouble(double v)
{
    if (std::isnan(v))
        return "\"nan\"";
    if (std::isinf(v))
        return v > 0 ? "\"inf\"" : "\"-inf\"";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string settingsJson(const tparam& p)
{
    std::string s = "{";
    auto add = [&](const char* key, const std::string& value) {
        if (s.size() > 1)
            s += ",";
        s += "\"";
        s += key;
        s += "\":";
        s += value;
    };
    auto num = [](long long v) { return std::to_string(v); };
    add("focalLength", jsonDouble(p.focalLength));
    add("pixelSize", jsonDouble(p.pixelSize));
    add("raSpeed", jsonDouble(p.raSpeed));
    add("decSpeed", jsonDouble(p.decSpeed));
    add("comPort", num(p.comPort));
    add("spareLevel1", num(p.spareLevel1));
    add("spareLevel2", num(p.spareLevel2));
    add("spareLevel3", num(p.spareLevel3));
    add("interfaceType", num(p.interfaceType));
    add("photoUnit", num(p.photoUnit));
    add("photoInterval", num(p.photoInterval));
    add("invertDec", num(p.invertDec != 0));
    add("invertRa", num(p.invertRa != 0));
    add("optoX", num(p.optoX));
    add("optoY", num(p.optoY));
    add("optoWidth", num(p.optoWidth));
    add("optoHeight", num(p.optoHeight));
    add("darkSpotGuiding", num(p.darkSpotGuiding != 0));
    s += "}";
    return s;
}

int usageError(const std::string& why)
{
    std::fprintf(stderr, "quorvel settings: %s\nusage: %s\n", why.c_str(), kUsage);
    return 2;
}

int runSettings(const std::vector<std::string>& args)
{
    std::string path;
    bool rewrite = false;
    bool optionsEnded = false;
    for (const auto& a : args) {
        if (!optionsEnded && a == "--rewrite") {
            rewrite = true;
        } else if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (a.empty()) {
            return usageError("empty file name");
        } else if (!path.empty()) {
            return usageError("only one settings file can be given");
        } else {
            path = a;
        }
    }
    if (path.empty())
        path = kSettingsFileName;

    SteadyClock clock;
    SharedState state(clock);
    loadParams(state, path);
    std::printf("%s\n", settingsJson(*state.params).c_str());
    std::fflush(stdout);
    if (rewrite) {
        if (const int err = storeParams(state, path)) {
            std::fprintf(stderr, "quorvel settings: %s\n", saveFailureText(err, path).c_str());
            return 1;
        }
    }
    return 0;
}

CommandRegistration reg("settings", kUsage, runSettings);

}  // namespace
