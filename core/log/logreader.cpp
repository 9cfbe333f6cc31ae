// Reading PHD2-format guide logs.
#include "core/log/logreader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr std::string_view kBegins = "Guiding Begins at ";
constexpr std::string_view kEnds = "Guiding Ends";
constexpr std::string_view kPixelScale = "Pixel scale = ";
constexpr std::string_view kInfo = "INFO: ";
constexpr std::string_view kTableStart = "Frame,";

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A finite number and nothing else.
std::optional<double> number(std::string_view s)
{
    s = trimmed(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The comma-separated fields of a row; a field in double quotes may hold
// commas, and its quotes are taken off.
std::vector<std::string> fields(std::string_view line)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (const char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// Where each column the reader uses sits in the table (-1: absent).
struct Columns {
    int frame = -1, time = -1, mount = -1, ra = -1, dec = -1;
    int raMs = -1, raDir = -1, decMs = -1, decDir = -1, mass = -1, error = -1;

    bool usable() const { return frame >= 0 && time >= 0 && ra >= 0 && dec >= 0; }

    static Columns of(std::string_view header)
    {
        Columns c;
        const std::vector<std::string> names = fields(header);
        for (int i = 0; i < int(names.size()); ++i) {
            const std::string_view n = trimmed(names[size_t(i)]);
            int* slot = n == "Frame"            ? &c.frame
                        : n == "Time"           ? &c.time
                        : n == "mount"          ? &c.mount
                        : n == "RARawDistance"  ? &c.ra
                        : n == "DECRawDistance" ? &c.dec
                        : n == "RADuration"     ? &c.raMs
                        : n == "RADirection"    ? &c.raDir
                        : n == "DECDuration"    ? &c.decMs
                        : n == "DECDirection"   ? &c.decDir
                        : n == "StarMass"       ? &c.mass
                        : n == "ErrorCode"      ? &c.error
                                                : nullptr;
            if (slot && *slot < 0)
                *slot = i;
        }
        return c;
    }
};

std::string_view field(const std::vector<std::string>& f, int column)
{
    return column >= 0 && column < int(f.size()) ? std::string_view(f[size_t(column)]) : std::string_view();
}

// A pulse length in milliseconds: a whole number, at most a day.
int pulseMs(std::string_view s)
{
    const std::optional<double> v = number(s);
    if (!v || *v <= 0)
        return 0;
    return int(std::lround(std::min(*v, 86400000.0)));
}

char direction(std::string_view s, char a, char b)
{
    s = trimmed(s);
    return s.size() == 1 && (s[0] == a || s[0] == b) ? s[0] : char(0);
}

LoggedEvent::Kind eventKind(std::string_view text)
{
    if (startsWith(text, "SET LOCK POSITION"))
        return LoggedEvent::Kind::LockPosition;
    if (startsWith(text, "DITHER"))
        return LoggedEvent::Kind::Dither;
    if (startsWith(text, "Guiding paused") || text.find("PAUSE") != std::string_view::npos)
        return LoggedEvent::Kind::Paused;
    if (startsWith(text, "Guiding resumed") || text.find("RESUME") != std::string_view::npos)
        return LoggedEvent::Kind::Resumed;
    return LoggedEvent::Kind::Other;
}

class Reader {
public:
    GuideLogContents contents;

    void line(int at, std::string_view text)
    {
        text = trimmed(text);
        if (startsWith(text, kBegins)) {
            contents.sections.push_back({});
            section_ = &contents.sections.back();
            section_->line = at;
            section_->begins = std::string(trimmed(text.substr(kBegins.size())));
            columns_.reset();
            settling_ = false;
            return;
        }
        if (!section_)
            return;
        if (startsWith(text, kEnds) || (text.empty() && columns_)) {
            section_ = nullptr;
            return;
        }
        if (startsWith(text, kInfo)) {
            info(text.substr(kInfo.size()));
            return;
        }
        if (!columns_) {
            header(at, text);
            return;
        }
        row(at, text);
    }

private:
    void header(int at, std::string_view text)
    {
        if (startsWith(text, kPixelScale)) {
            const std::string_view rest = text.substr(kPixelScale.size());
            const std::optional<double> scale = number(rest.substr(0, rest.find_first_of(" ,")));
            if (scale && *scale > 0)
                section_->pixelScale = *scale;
        } else if (startsWith(text, kTableStart)) {
            columns_ = Columns::of(text);
            if (!columns_->usable())
                problem(at, "the table's header names no Frame, Time, RARawDistance or DECRawDistance column");
        }
    }

    void info(std::string_view text)
    {
        if (text.find("Settling started") != std::string_view::npos)
            settling_ = true;
        else if (text.find("Settling complete") != std::string_view::npos ||
                 text.find("Settling failed") != std::string_view::npos)
            settling_ = false;
        const double t = section_->frames.empty() ? 0.0 : section_->frames.back().timeS;
        section_->events.push_back({eventKind(text), t, int(section_->frames.size()), std::string(text)});
    }

    void row(int at, std::string_view text)
    {
        if (!columns_->usable())
            return;  // said once, at the header
        const std::vector<std::string> f = fields(text);
        const std::optional<double> frame = number(field(f, columns_->frame));
        const std::optional<double> time = number(field(f, columns_->time));
        if (!frame || !time) {
            problem(at, "not a row of the guiding table");
            return;
        }
        const std::string_view mount = trimmed(field(f, columns_->mount));
        if (mount == "AO")
            return;  // an adaptive optics unit's step: not the mount's
        LoggedFrame r;
        r.frame = int(std::clamp(*frame, -1e9, 1e9));
        r.timeS = *time;
        r.settling = settling_;
        const std::optional<double> ra = number(field(f, columns_->ra));
        const std::optional<double> dec = number(field(f, columns_->dec));
        const std::optional<double> mass = number(field(f, columns_->mass));
        const std::optional<double> error = number(field(f, columns_->error));
        const bool lost = error && *error != 0 && (!mass || *mass == 0);
        if (mount == "DROP" || lost) {
            r.dropped = true;
        } else if (!ra || !dec) {
            problem(at, "a row without its RA and DEC distances");
            return;
        } else {
            r.raPx = *ra;
            r.decPx = *dec;
            r.raDirection = direction(field(f, columns_->raDir), 'E', 'W');
            r.decDirection = direction(field(f, columns_->decDir), 'N', 'S');
            r.raMs = r.raDirection ? pulseMs(field(f, columns_->raMs)) : 0;
            r.decMs = r.decDirection ? pulseMs(field(f, columns_->decMs)) : 0;
        }
        section_->frames.push_back(r);
    }

    void problem(int at, std::string what)
    {
        contents.problems.push_back({at, std::move(what)});
    }

    GuideLogSection* section_ = nullptr;
    std::optional<Columns> columns_;
    bool settling_ = false;
};

}  // namespace

GuideLogContents readGuideLog(std::string_view text)
{
    Reader reader;
    int number = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        reader.line(++number, text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    }
    return std::move(reader.contents);
}

double unitPerPixel(const GuideLogSection& section) { return section.pixelScale.value_or(1.0); }

SectionFigures sectionFigures(const GuideLogSection& section)
{
    SectionFigures s;
    s.arcsec = section.pixelScale.has_value();
    const double k = unitPerPixel(section);
    double sumRa = 0, sumDec = 0;
    for (const LoggedFrame& f : section.frames) {
        ++s.frames;
        if (f.dropped) {
            ++s.dropped;
            continue;
        }
        if (f.settling)
            continue;
        ++s.used;
        sumRa += f.raPx * k;
        sumDec += f.decPx * k;
        s.ra.peak = std::max(s.ra.peak, std::abs(f.raPx * k));
        s.dec.peak = std::max(s.dec.peak, std::abs(f.decPx * k));
    }
    if (s.used == 0)
        return s;
    const double meanRa = sumRa / s.used, meanDec = sumDec / s.used;
    double sqRa = 0, sqDec = 0;
    for (const LoggedFrame& f : section.frames) {
        if (f.dropped || f.settling)
            continue;
        sqRa += (f.raPx * k - meanRa) * (f.raPx * k - meanRa);
        sqDec += (f.decPx * k - meanDec) * (f.decPx * k - meanDec);
    }
    s.ra.rms = std::sqrt(sqRa / s.used);
    s.dec.rms = std::sqrt(sqDec / s.used);
    s.totalRms = std::hypot(s.ra.rms, s.dec.rms);
    return s;
}
