// "Ciel simulé": a capture driver with no device behind it, for trying the
// guider indoors. It renders 320 x 240 grey frames of a guide star (a Moffat
// profile whose core saturates, as a guide star does on a webcam), a few
// fainter stars, sky background, noise and hot pixels; or, in dark-spot
// mode, a solar disc with limb darkening and a sunspot inside the default
// analysis region. The field moves with the simulated mount (simmount.h),
// which answers the program's own guide commands. A frame depends only on
// the parameters, the program clock and the commands sent: the same seed,
// clock and commands give the same frames.
//
// Parameters come from QUORVEL_SKY, "key=value,key=value", every key
// optional: seed (1), star_x star_y (160, 120: the guide star's start, in
// pixels), fwhm (4.5 px), peak (600 grey levels above the background before
// clipping at 255), background (20), noise (3, RMS at the background),
// hot_pixels (5), drift_x drift_y (3, -2 pixels per minute), pe_amplitude
// (1.5 px on x), pe_period (120 s), seeing (0.25 px RMS a frame), rate (1,
// times the settings' guide speeds), flip_x flip_y (0: 1 mirrors the picture
// about its centre, as a mirrored camera does), angle (0 degrees: the camera
// turned about the picture's centre, the field and its moves with it, so
// that a move along x shows at this angle; hot pixels stay on the sensor),
// sun (the settings' dark-spot guiding, read at each frame; 1 or 0 forces it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/capturedriver.h"
#include "core/capture/simmount.h"

struct SharedState;
class MountChannel;

struct SkyParams {
    double seed = 1;
    double starX = 160;
    double starY = 120;
    double fwhm = 4.5;
    double peak = 600;
    double background = 20;
    double noise = 3;
    double hotPixels = 5;
    double driftX = 3.0;
    double driftY = -2.0;
    double peAmplitude = 1.5;
    double pePeriod = 120;
    double seeing = 0.25;
    double rate = 1.0;
    double flipX = 0;
    double flipY = 0;
    double angle = 0;  // degrees
    double sun = -1;  // -1 follows the settings
};

struct SkyParamsResult {
    bool ok = false;
    SkyParams params;
    std::string error;  // names the key: "QUORVEL_SKY: fwhm: 'x' is not a number"
};
SkyParamsResult parseSkyParams(std::string_view text);

class SimulatedSky : public CaptureDriver {
public:
    static constexpr const char* kName = "Ciel simulé";

    // parameters: the QUORVEL_SKY text to use; none reads the variable at
    // each connect(). The sky reads the clock and the settings of state and
    // watches channel; it must go before them.
    SimulatedSky(SharedState& state, MountChannel& channel,
                 std::optional<std::string> parameters = std::nullopt);
    ~SimulatedSky() override;

    std::string name() const override { return kName; }
    CaptureStatus connect() override;
    void disconnect() override;
    bool connected() const override { return connected_; }
    GrabStatus grab(Picture& picture, std::string& error) override;

    // The parameters, integers with a scale for the real-valued ones; the
    // ids are the QUORVEL_SKY keys.
    std::vector<CaptureControl> controls() override;
    CaptureStatus setControl(const std::string& id, int64_t value) override;

    const SkyParams& params() const { return params_; }
    SimulatedMount& mount() { return mount_; }
    // Whether a frame taken now shows the sun.
    bool sunShown() const;
    // Where a frame taken at this time puts the guide star's centre (or, with
    // the sun, the sunspot's), in picture pixels, the turn and mirrors applied.
    FieldOffset target(int64_t timeUs, bool sun) const;
    // The frame of that time, whether connected or not.
    void render(int64_t timeUs, bool sun, Picture& picture);

private:
    struct Star {
        double x, y, peak;
    };
    struct HotPixel {
        int index;
        float amount;
    };
    void setParams(const SkyParams& p);
    FieldOffset mirrored(double x, double y) const;
    FieldOffset placed(double x, double y) const;  // turned, then mirrored
    void addStar(double x, double y, double peak);

    SharedState& state_;
    std::optional<std::string> text_;
    SkyParams params_;
    SimulatedMount mount_;
    bool connected_ = false;
    std::vector<Star> faint_;          // field positions at the start
    std::vector<HotPixel> hot_;        // fixed on the sensor
    std::vector<float> signal_;        // the frame before noise
};
