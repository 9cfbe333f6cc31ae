// The simulated sky: its parameters, its field and its frames.
#include "core/capture/simsky.h"

#include <algorithm>
#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "core/state.h"

namespace {

struct ParamSpec {
    enum Kind { Real, Whole, Flag, Sun };
    const char* key;
    double SkyParams::*field;
    double minimum;
    double maximum;
    double scale;  // the step of its "Adjust" control
    Kind kind;
};

constexpr ParamSpec kSpecs[] = {
    {"seed", &SkyParams::seed, 0, 2147483647, 1, ParamSpec::Whole},
    {"star_x", &SkyParams::starX, -10000, 10000, 0.01, ParamSpec::Real},
    {"star_y", &SkyParams::starY, -10000, 10000, 0.01, ParamSpec::Real},
    {"fwhm", &SkyParams::fwhm, 0.5, 50, 0.1, ParamSpec::Real},
    {"peak", &SkyParams::peak, 0, 100000, 1, ParamSpec::Real},
    {"background", &SkyParams::background, 0, 255, 1, ParamSpec::Real},
    {"noise", &SkyParams::noise, 0, 100, 0.1, ParamSpec::Real},
    {"hot_pixels", &SkyParams::hotPixels, 0, 10000, 1, ParamSpec::Whole},
    {"drift_x", &SkyParams::driftX, -1000, 1000, 0.1, ParamSpec::Real},
    {"drift_y", &SkyParams::driftY, -1000, 1000, 0.1, ParamSpec::Real},
    {"pe_amplitude", &SkyParams::peAmplitude, 0, 1000, 0.1, ParamSpec::Real},
    {"pe_period", &SkyParams::pePeriod, 1, 100000, 1, ParamSpec::Real},
    {"seeing", &SkyParams::seeing, 0, 50, 0.01, ParamSpec::Real},
    {"rate", &SkyParams::rate, 0, 100, 0.01, ParamSpec::Real},
    {"flip_x", &SkyParams::flipX, 0, 1, 1, ParamSpec::Flag},
    {"flip_y", &SkyParams::flipY, 0, 1, 1, ParamSpec::Flag},
    {"angle", &SkyParams::angle, -360, 360, 0.1, ParamSpec::Real},
    {"sun", &SkyParams::sun, 0, 1, 1, ParamSpec::Sun},
};
constexpr int kSpecCount = int(std::size(kSpecs));

const ParamSpec* findSpec(std::string_view key)
{
    for (const ParamSpec& s : kSpecs)
        if (key == s.key)
            return &s;
    return nullptr;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string number(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// Control units of a parameter: its range and a value, in steps of its scale.
int64_t toSteps(const ParamSpec& s, double v) { return std::llround(v / s.scale); }
int64_t minSteps(const ParamSpec& s) { return s.kind == ParamSpec::Sun ? -1 : int64_t(std::ceil(s.minimum / s.scale - 1e-9)); }
int64_t maxSteps(const ParamSpec& s) { return int64_t(std::floor(s.maximum / s.scale + 1e-9)); }

// The disc, its limb darkening and the sunspot's place on it.
constexpr double kSunRadius = 150;
constexpr double kSunLevel = 210;  // grey level at the disc centre
constexpr double kLimbDarkening = 0.6;
constexpr double kSpotDx = 8, kSpotDy = -5;
constexpr double kPictureCentreX = (Picture::width - 1) / 2.0;
constexpr double kPictureCentreY = (Picture::height - 1) / 2.0;

// A Moffat profile of beta 3: FWHM = 2 alpha sqrt(2^(1/3) - 1).
constexpr double kMoffatAlphaPerFwhm = 0.98077;

double uniform(uint64_t key) { return double(mixBits(key) >> 11) * 0x1p-53; }

}  // namespace

SkyParamsResult parseSkyParams(std::string_view text)
{
    SkyParamsResult r;
    std::bitset<kSpecCount> seen;
    const auto fail = [&r](std::string why) {
        r.ok = false;
        r.error = "QUORVEL_SKY: " + std::move(why);
        return r;
    };
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos)
            return fail("'" + std::string(item) + "' is not key=value");
        const std::string key(trim(item.substr(0, eq)));
        const std::string_view value = trim(item.substr(eq + 1));
        const ParamSpec* entry = findSpec(key);
        if (!entry)
            return fail("unknown key '" + key + "'");
        const int index = int(entry - kSpecs);
        if (seen[index])
            return fail(key + " given twice");
        seen[index] = true;

        double v = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size() || !std::isfinite(v))
            return fail(key + ": '" + std::string(value) + "' is not a number");
        if ((entry->kind == ParamSpec::Flag || entry->kind == ParamSpec::Sun) && v != 0 && v != 1)
            return fail(key + ": '" + std::string(value) + "' is not 0 or 1");
        if (entry->kind == ParamSpec::Whole && v != std::floor(v))
            return fail(key + ": '" + std::string(value) + "' is not a whole number");
        if (v < entry->minimum || v > entry->maximum)
            return fail(key + ": " + std::string(value) + " is outside " + number(entry->minimum) + ".." +
                        number(entry->maximum));
        r.params.*(entry->field) = v;
    }
    r.ok = true;
    return r;
}

SimulatedSky::SimulatedSky(SharedState& state, MountChannel& channel, std::optional<std::string> parameters)
    : state_(state), text_(std::move(parameters)), mount_(state, channel)
{
    setParams(SkyParams{});
}

SimulatedSky::~SimulatedSky() = default;

void SimulatedSky::setParams(const SkyParams& p)
{
    params_ = p;
    MountModel& m = mount_.model;
    m.driftX = p.driftX;
    m.driftY = p.driftY;
    m.peAmplitude = p.peAmplitude;
    m.pePeriod = p.pePeriod;
    m.seeing = p.seeing;
    m.rate = p.rate;
    m.seed = uint64_t(p.seed);

    // Three to six fainter stars inside the picture, away from the guide
    // star; hot pixels anywhere on the sensor but on the guide star.
    const uint64_t key = mixBits(uint64_t(p.seed) * 0x9e3779b97f4a7c15ull + 17);
    faint_.clear();
    const int count = 3 + int(mixBits(key) % 4);
    uint64_t k = key + 1;
    for (int tries = 0; int(faint_.size()) < count && tries < 200; ++tries) {
        const double x = 12 + uniform(k++) * (Picture::width - 24);
        const double y = 12 + uniform(k++) * (Picture::height - 24);
        const double peak = 40 + uniform(k++) * 120;
        if (std::hypot(x - p.starX, y - p.starY) >= 30)
            faint_.push_back({x, y, peak});
    }
    hot_.clear();
    for (int tries = 0; int(hot_.size()) < int(p.hotPixels) && tries < 4 * int(p.hotPixels) + 100; ++tries) {
        const int x = int(uniform(k++) * Picture::width);
        const int y = int(uniform(k++) * Picture::height);
        const float amount = float(90 + uniform(k++) * 80);
        if (std::hypot(x - p.starX, y - p.starY) >= 8)
            hot_.push_back({y * Picture::width + x, amount});
    }
}

CaptureStatus SimulatedSky::connect()
{
    std::string text;
    if (text_)
        text = *text_;
    else if (const char* env = std::getenv("QUORVEL_SKY"))
        text = env;
    const SkyParamsResult r = parseSkyParams(text);
    if (!r.ok)
        return CaptureStatus::failure(r.error, EINVAL);
    setParams(r.params);
    mount_.start(state_.clock.nowUs());
    connected_ = true;
    return {};
}

void SimulatedSky::disconnect()
{
    connected_ = false;
    mount_.stop();
}

bool SimulatedSky::sunShown() const
{
    if (params_.sun >= 0)
        return params_.sun == 1;
    return state_.params && state_.params->darkSpotGuiding == 1;
}

GrabStatus SimulatedSky::grab(Picture& picture, std::string& error)
{
    if (!connected_) {
        error = "not connected";
        return GrabStatus::NoFrame;
    }
    render(state_.clock.nowUs(), sunShown(), picture);
    return GrabStatus::NewFrame;
}

FieldOffset SimulatedSky::placed(double x, double y) const
{
    // The camera turned by `angle` about the picture's centre: a move along
    // the picture's x on an unturned camera shows at `angle` degrees (x to
    // the right, y down). Not turned, positions are left exactly as they are.
    if (params_.angle != 0) {
        const double a = params_.angle * std::numbers::pi / 180.0;
        const double c = std::cos(a), s = std::sin(a);
        const double dx = x - kPictureCentreX, dy = y - kPictureCentreY;
        x = kPictureCentreX + c * dx - s * dy;
        y = kPictureCentreY + s * dx + c * dy;
    }
    return mirrored(x, y);
}

FieldOffset SimulatedSky::mirrored(double x, double y) const
{
    return {params_.flipX != 0 ? Picture::width - 1 - x : x, params_.flipY != 0 ? Picture::height - 1 - y : y};
}

FieldOffset SimulatedSky::target(int64_t timeUs, bool sun) const
{
    const FieldOffset o = mount_.offset(timeUs);
    if (sun)
        return placed(kPictureCentreX + kSpotDx + o.x, kPictureCentreY + kSpotDy + o.y);
    return placed(params_.starX + o.x, params_.starY + o.y);
}

void SimulatedSky::addStar(double x, double y, double peak)
{
    const double alpha = params_.fwhm * kMoffatAlphaPerFwhm;
    const double reach = std::ceil(4 * params_.fwhm) + 1;
    if (!(x > -reach && x < Picture::width + reach && y > -reach && y < Picture::height + reach))
        return;
    const int x0 = std::max(0, int(std::ceil(x - reach))), x1 = std::min(Picture::width - 1, int(x + reach));
    const int y0 = std::max(0, int(std::ceil(y - reach))), y1 = std::min(Picture::height - 1, int(y + reach));
    const float inv = float(1.0 / (alpha * alpha));
    for (int j = y0; j <= y1; ++j) {
        float* row = signal_.data() + j * Picture::width;
        const float dy2 = float((j - y) * (j - y));
        for (int i = x0; i <= x1; ++i) {
            const float dx = float(i - x);
            const float w = 1.0f + (dx * dx + dy2) * inv;
            row[i] += float(peak) / (w * w * w);
        }
    }
}

void SimulatedSky::render(int64_t timeUs, bool sun, Picture& picture)
{
    constexpr int W = Picture::width, H = Picture::height;
    signal_.resize(W * H);
    const FieldOffset o = mount_.offset(timeUs);
    const float background = float(params_.background);

    if (sun) {
        const FieldOffset c = placed(kPictureCentreX + o.x, kPictureCentreY + o.y);
        const double inv = 1.0 / kSunRadius;
        for (int j = 0; j < H; ++j) {
            float* row = signal_.data() + j * W;
            const double dy = j - c.y;
            for (int i = 0; i < W; ++i) {
                const double dx = i - c.x;
                const double r = std::sqrt(dx * dx + dy * dy);
                const double cover = std::clamp(kSunRadius - r + 0.5, 0.0, 1.0);
                const double q = std::min(1.0, r * inv);
                const double mu = std::sqrt(1.0 - q * q);
                const double disc = kSunLevel * (1.0 - kLimbDarkening * (1.0 - mu));
                row[i] = float(background + cover * (disc - background));
            }
        }
        // The sunspot: an umbra at 30 % of the disc inside 3.4 px, a
        // penumbra at 75 % out to 6.5 px, each edge a one-pixel ramp.
        const FieldOffset s = placed(kPictureCentreX + kSpotDx + o.x, kPictureCentreY + kSpotDy + o.y);
        const auto ramp = [](double v) { return std::clamp(v + 0.5, 0.0, 1.0); };
        for (int j = std::max(0, int(s.y) - 9); j <= std::min(H - 1, int(s.y) + 9); ++j) {
            for (int i = std::max(0, int(s.x) - 9); i <= std::min(W - 1, int(s.x) + 9); ++i) {
                const double r = std::hypot(i - s.x, j - s.y);
                const double f = 1.0 - 0.25 * ramp(6.5 - r) - 0.45 * ramp(3.4 - r);
                signal_[j * W + i] *= float(f);
            }
        }
    } else {
        std::fill(signal_.begin(), signal_.end(), background);
        const FieldOffset g = placed(params_.starX + o.x, params_.starY + o.y);
        addStar(g.x, g.y, params_.peak);
        for (const Star& star : faint_) {
            const FieldOffset f = placed(star.x + o.x, star.y + o.y);
            addStar(f.x, f.y, star.peak);
        }
    }
    for (const HotPixel& h : hot_)
        signal_[h.index] += h.amount;

    // Noise of RMS `noise` at the background, growing as the square root of
    // the signal above it (photon noise); drawn from the seed and the time.
    const uint64_t frameKey =
        mixBits(mixBits(uint64_t(params_.seed) + 0x5151) ^ uint64_t(timeUs - mount_.epochUs()));
    const float noise = float(params_.noise) * 1.7320508f / 65536.0f;  // Irwin-Hall of 4 to unit RMS
    const float perLevel = background > 0 ? 1.0f / background : 0.0f;
    uint32_t* out = picture.bits.data();
    for (int n = 0; n < W * H; ++n) {
        const float v = signal_[n];
        const uint64_t h = mixBits(frameKey + uint64_t(n));
        const float sum = float((h & 0xffff) + ((h >> 16) & 0xffff) + ((h >> 32) & 0xffff) + (h >> 48)) - 131070.0f;
        const float gain = perLevel > 0 ? std::sqrt(std::max(1.0f, v * perLevel)) : 1.0f;
        const float level = std::clamp(v + sum * noise * gain + 0.5f, 0.0f, 255.0f);
        const int g = int(level);
        out[n] = rgbWord(g, g, g);
    }
}

std::vector<CaptureControl> SimulatedSky::controls()
{
    std::vector<CaptureControl> out;
    const SkyParams defaults;
    for (const ParamSpec& s : kSpecs) {
        CaptureControl c;
        c.id = c.name = s.key;
        c.kind = s.kind == ParamSpec::Flag  ? CaptureControl::Kind::Boolean
                 : s.kind == ParamSpec::Sun ? CaptureControl::Kind::Menu
                                            : CaptureControl::Kind::Integer;
        c.minimum = minSteps(s);
        c.maximum = maxSteps(s);
        c.scale = s.scale;
        c.defaultValue = toSteps(s, defaults.*(s.field));
        c.value = toSteps(s, params_.*(s.field));
        if (s.kind == ParamSpec::Sun)
            c.menu = {{-1, "selon le guidage tache"}, {0, "non"}, {1, "oui"}};
        out.push_back(std::move(c));
    }
    return out;
}

CaptureStatus SimulatedSky::setControl(const std::string& id, int64_t value)
{
    const ParamSpec* s = findSpec(id);
    if (!s)
        return CaptureStatus::failure("no such control '" + id + "'");
    if (value < minSteps(*s) || value > maxSteps(*s))
        return CaptureStatus::failure(id + ": " + std::to_string(value) + " is outside " +
                                      std::to_string(minSteps(*s)) + ".." + std::to_string(maxSteps(*s)));
    SkyParams p = params_;
    p.*(s->field) = s->kind == ParamSpec::Real ? double(value) * s->scale : double(value);
    setParams(p);
    return {};
}
