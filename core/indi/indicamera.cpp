// INDI cameras as capture drivers.
#include "core/indi/indicamera.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

#include <libindi/indipropertyblob.h>
#include <libindi/indipropertynumber.h>
#include <libindi/indipropertyswitch.h>

#include "core/indi/exposurepacing.h"
#include "core/indi/fitsframe.h"
#include "core/indi/framing.h"
#include "core/indi/indiclient.h"
#include "core/indi/indiconnection.h"
#include "core/indi/stretch.h"

namespace {

constexpr int kDefaultExposureMs = 1000;
constexpr int kMaxExposureMs = 60000;
constexpr auto kDeviceWait = std::chrono::seconds(5);
constexpr int kDecodeFailuresLost = 3;
// The main chip's frames (a guide head's come as CCD2).
constexpr const char* kFrameProperty = "CCD1";

// A number element of a property the driver defined, for the controls.
struct NumberRange {
    std::string property;
    std::string element;
    double minimum = 0;
    double maximum = 0;
    double step = 1;
    double value = 0;
};

std::optional<NumberRange> numberElement(const INDI::Property& p, const char* element)
{
    if (p.getType() != INDI_NUMBER)
        return std::nullopt;
    const auto* n = p.getNumber()->findWidgetByName(element);
    if (!n)
        return std::nullopt;
    return NumberRange{p.getName(), element, n->getMin(), n->getMax(), n->getStep(), n->getValue()};
}

}  // namespace

struct IndiCamera::Impl {
    Impl(IndiConnection& c, const Clock& k, std::string name)
        : connection(c), client(c.client()), clock(k), deviceName(std::move(name)), pacing(k)
    {
    }

    IndiConnection& connection;
    IndiClient& client;
    const Clock& clock;
    const std::string deviceName;
    int listenerId = 0;

    mutable std::mutex mutex;  // everything below
    // What "Format" and "Adjust" chose.
    Framing framing = Framing::Whole;
    std::optional<int> centreX, centreY;  // the frame's centre until set
    bool autoLevels = true;
    StretchLevels manualLevels{0, 1000};
    StretchLevels shownLevels{0, 1000};  // of the last picture
    int exposureMs = kDefaultExposureMs;
    // What the device offers.
    double exposureMinS = 0.001, exposureMaxS = 3600;
    std::optional<NumberRange> gain;
    std::optional<NumberRange> binning;
    int sensorWidth = 0, sensorHeight = 0;  // CCD_INFO
    // The capture.
    bool wantsFrames = false;  // from the start of connect() to disconnect()
    bool capturing = false;
    bool lost = false;
    std::string lostWhy;
    ExposurePacing pacing;
    std::shared_ptr<const CameraFrame> latest;
    int64_t latestExposedUs = 0;   // when the exposure of `latest` was asked for
    int64_t grabbedExposedUs = -1; // the same for the frame last grabbed
    uint64_t latestSeq = 0;
    uint64_t grabbedSeq = 0;
    int decodeFailures = 0;
    std::string decodeError;
    PictureOnCamera placed;
    std::shared_ptr<const std::vector<float>> values;  // of the last picture

    // Under the lock. Sending takes only the client's own send lock.
    void requestExposure()
    {
        pacing.asked();
        client.sendNumbers(deviceName, "CCD_EXPOSURE", {{"CCD_EXPOSURE_VALUE", exposureMs / 1000.0}});
    }

    void loseUnderLock(std::string why)
    {
        if (!capturing)
            return;
        capturing = false;
        pacing.cancel();
        lost = true;
        lostWhy = deviceName + ": " + std::move(why);
    }

    // Turns on the upload mode that sends us the frames when the one on
    // now does not (uploadModeFor); nothing once frames are not wanted.
    void keepFramesComing(const std::string& modeOn)
    {
        std::string ask;
        {
            std::lock_guard lock(mutex);
            if (wantsFrames)
                ask = uploadModeFor(modeOn);
        }
        if (!ask.empty())
            client.sendSwitches(deviceName, "UPLOAD_MODE", {{ask, true}});
    }

    // On INDI's thread.
    void onEvent(const IndiEvent& e);
    void onFrame(const INDI::Property& p);
};

std::string uploadModeFor(const std::string& current)
{
    if (current == "UPLOAD_LOCAL")
        return "UPLOAD_BOTH";
    if (current == "UPLOAD_CLIENT" || current == "UPLOAD_BOTH")
        return {};
    return "UPLOAD_CLIENT";
}

void IndiCamera::Impl::onEvent(const IndiEvent& e)
{
    switch (e.kind) {
    case IndiEvent::Kind::ServerLost: {
        std::lock_guard lock(mutex);
        loseUnderLock("the INDI server at " + connection.address().text() + " went away");
        return;
    }
    case IndiEvent::Kind::DeviceRemoved: {
        std::lock_guard lock(mutex);
        loseUnderLock("the device left the INDI server at " + connection.address().text());
        return;
    }
    case IndiEvent::Kind::Removed: {
        std::lock_guard lock(mutex);
        const std::string name = e.property.getName();
        if (gain && gain->property == name)
            gain.reset();
        if (binning && binning->property == name)
            binning.reset();
        if (name == "CONNECTION")
            loseUnderLock("the device was disconnected");
        return;
    }
    case IndiEvent::Kind::Defined:
    case IndiEvent::Kind::Updated:
        break;
    }

    const INDI::Property& p = e.property;
    if (p.getType() == INDI_BLOB) {
        if (e.kind == IndiEvent::Kind::Updated && p.isNameMatch(kFrameProperty))
            onFrame(p);
        return;
    }
    const std::string name = p.getName();
    if (name == "UPLOAD_MODE" && p.getType() == INDI_SWITCH) {
        // Defined after we connected, or changed by another client: frames
        // must still come. A refusal (Alert) is not asked again.
        if (p.getState() != IPS_ALERT) {
            const auto* on = p.getSwitch()->findOnSwitch();
            keepFramesComing(on ? on->getName() : "");
        }
        return;
    }
    std::lock_guard lock(mutex);
    if (name == "CONNECTION") {
        const auto* on = p.getSwitch()->findWidgetByName("CONNECT");
        if (!on || on->getState() != ISS_ON)
            loseUnderLock("the device was disconnected");
    } else if (name == "CCD_EXPOSURE") {
        if (const auto r = numberElement(p, "CCD_EXPOSURE_VALUE"); r && r->maximum > r->minimum) {
            exposureMinS = r->minimum;
            exposureMaxS = r->maximum;
        }
        if (p.getState() == IPS_ALERT && pacing.exposing())  // the exposure failed: try again shortly
            pacing.ended();
        if (p.getState() != IPS_BUSY && pacing.aborting())  // an exposure aborted for a move is let go
            pacing.settled();
    } else if (name == "CCD_GAIN") {
        gain = numberElement(p, "GAIN");
    } else if (name == "CCD_CONTROLS") {
        if (auto r = numberElement(p, "Gain"))
            gain = r;
    } else if (name == "CCD_BINNING") {
        binning = numberElement(p, "HOR_BIN");
    } else if (name == "CCD_INFO") {
        if (const auto x = numberElement(p, "CCD_MAX_X"))
            sensorWidth = int(x->value);
        if (const auto y = numberElement(p, "CCD_MAX_Y"))
            sensorHeight = int(y->value);
    }
}

void IndiCamera::Impl::onFrame(const INDI::Property& p)
{
    {
        std::lock_guard lock(mutex);
        if (!capturing)
            return;
    }
    const auto* blobs = p.getBLOB();
    for (const auto& blob : *blobs) {
        if (blob.getBlobLen() <= 0 || !blob.getBlob())
            continue;
        const std::string format = blob.getFormat();
        auto frame = std::make_shared<CameraFrame>();
        std::string why;
        bool ok = false;
        if (format == ".fits" || format == ".fit" || format == ".fts")
            ok = decodeFits(blob.getBlob(), size_t(blob.getBlobLen()), *frame, why);
        else
            why = "frames in the format \"" + format + "\" cannot be read: the camera must send uncompressed FITS";

        std::lock_guard lock(mutex);
        if (!capturing)
            return;
        if (!pacing.frameCame()) {  // the exposure aborted for a move, come all the same
            if (pacing.mayAskNow())
                requestExposure();
            return;
        }
        if (ok) {
            latest = std::move(frame);
            latestExposedUs = pacing.askedUs();
            ++latestSeq;
            decodeFailures = 0;
            decodeError.clear();
        } else {
            decodeError = deviceName + ": " + why;
            if (++decodeFailures >= kDecodeFailuresLost) {
                loseUnderLock(why);
                return;
            }
        }
        // Continuous exposures: the next one starts now, or once the mount
        // has stopped moving (grab() asks for it then).
        if (pacing.mayAskNow())
            requestExposure();
        return;
    }
}

IndiCamera::IndiCamera(IndiConnection& connection, const Clock& clock, std::string deviceName)
    : impl_(std::make_unique<Impl>(connection, clock, std::move(deviceName)))
{
    Impl* impl = impl_.get();
    impl_->listenerId = impl_->client.addListener(impl_->deviceName, [impl](const IndiEvent& e) { impl->onEvent(e); });
}

IndiCamera::~IndiCamera()
{
    impl_->client.removeListener(impl_->listenerId);
    disconnect();
}

std::string IndiCamera::name() const
{
    return impl_->deviceName;
}

std::string IndiCamera::device() const
{
    return impl_->connection.deviceUri(impl_->deviceName);
}

CaptureStatus IndiCamera::connect()
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (d.capturing)
            return {};
    }
    if (const IndiStatus s = d.connection.connect(); !s.ok)
        return CaptureStatus::failure(s.error);
    const std::string& dev = d.deviceName;
    const std::string where = d.connection.address().text();
    if (!d.client.device(dev))
        return CaptureStatus::failure("no INDI device \"" + dev + "\" on the server at " + where);

    {
        std::lock_guard lock(d.mutex);
        d.wantsFrames = true;
    }
    auto notWanted = [&d] {
        std::lock_guard lock(d.mutex);
        d.wantsFrames = false;
    };
    d.client.wantBlobs(dev, kFrameProperty, true);
    d.client.sendSwitches(dev, "CONNECTION", {{"CONNECT", true}, {"DISCONNECT", false}});
    bool refused = false;
    const bool ready = d.client.waitFor(
        [&](const std::map<std::string, IndiClient::DeviceInfo>& devices) {
            const auto it = devices.find(dev);
            if (it == devices.end())
                return false;
            const IndiClient::DeviceInfo& info = it->second;
            refused = info.connectionAlert;
            return refused || (info.connected && info.blobs && info.properties.count("CCD_EXPOSURE") > 0);
        },
        kDeviceWait);
    if (!ready || refused) {
        notWanted();
        d.client.wantBlobs(dev, kFrameProperty, false);
        if (!d.client.up())
            return CaptureStatus::failure("the INDI server at " + where + " went away");
        if (refused)
            return CaptureStatus::failure(dev + ": the device refused the connection");
        const auto info = d.client.device(dev);
        if (info && info->connected && info->blobs)
            return CaptureStatus::failure(dev + ": not a camera (no CCD_EXPOSURE)");
        return CaptureStatus::failure(dev + ": the device did not connect within 5 s");
    }

    // Frames to us, uncompressed FITS, where the driver lets us choose.
    const auto info = d.client.device(dev);
    auto offers = [&](const char* property) { return info && info->properties.count(property) > 0; };
    if (offers("UPLOAD_MODE"))
        d.keepFramesComing(info->switchOn.count("UPLOAD_MODE") ? info->switchOn.at("UPLOAD_MODE") : "");
    if (offers("CCD_COMPRESSION"))
        d.client.sendSwitches(dev, "CCD_COMPRESSION", {{"CCD_RAW", true}});
    if (offers("CCD_TRANSFER_FORMAT"))
        d.client.sendSwitches(dev, "CCD_TRANSFER_FORMAT", {{"FORMAT_FITS", true}});

    std::lock_guard lock(d.mutex);
    d.capturing = true;
    d.lost = false;
    d.lostWhy.clear();
    d.decodeFailures = 0;
    d.decodeError.clear();
    d.grabbedSeq = d.latestSeq;  // a frame from an earlier connection is not new
    d.requestExposure();
    return {};
}

void IndiCamera::disconnect()
{
    Impl& d = *impl_;
    bool wasExposing = false;
    {
        std::lock_guard lock(d.mutex);
        if (!d.capturing && !d.lost)
            return;
        wasExposing = d.capturing && d.pacing.exposing();
        d.wantsFrames = false;
        d.capturing = false;
        d.pacing.cancel();
        d.lost = false;
        d.lostWhy.clear();
    }
    if (wasExposing)
        d.client.sendSwitches(d.deviceName, "CCD_ABORT_EXPOSURE", {{"ABORT", true}});
    d.client.wantBlobs(d.deviceName, kFrameProperty, false);
}

bool IndiCamera::connected() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->capturing;
}

void IndiCamera::holdExposuresUntil(int64_t clockUs)
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.capturing || !d.pacing.holdUntil(clockUs))
            return;
    }
    d.client.sendSwitches(d.deviceName, "CCD_ABORT_EXPOSURE", {{"ABORT", true}});
}

int64_t IndiCamera::frameAgeUs() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->grabbedExposedUs < 0 ? -1 : impl_->clock.nowUs() - impl_->grabbedExposedUs;
}

GrabStatus IndiCamera::grab(Picture& picture, std::string& error)
{
    Impl& d = *impl_;
    std::shared_ptr<const CameraFrame> frame;
    Framing framing;
    std::optional<int> cx, cy;
    bool autoLevels;
    StretchLevels levels;
    {
        std::lock_guard lock(d.mutex);
        if (d.lost) {
            error = d.lostWhy;
            return GrabStatus::Lost;
        }
        if (!d.capturing) {
            error = "not connected";
            return GrabStatus::NoFrame;
        }
        if (d.pacing.due(d.exposureMs))
            d.requestExposure();
        if (d.latestSeq == d.grabbedSeq) {
            error = d.decodeError;
            return GrabStatus::NoFrame;
        }
        d.grabbedSeq = d.latestSeq;
        d.grabbedExposedUs = d.latestExposedUs;
        frame = d.latest;
        framing = d.framing;
        cx = d.centreX;
        cy = d.centreY;
        autoLevels = d.autoLevels;
        levels = d.manualLevels;
    }

    // A window the user has not placed opens on the brightest star, and
    // stays there (a control moves it).
    if (framing != Framing::Whole && (!cx || !cy)) {
        const CameraPoint star = brightestPatch(*frame);
        cx = cx.value_or(star.x);
        cy = cy.value_or(star.y);
        std::lock_guard lock(d.mutex);
        d.centreX = cx;
        d.centreY = cy;
    }
    // Framing and stretching a frame take a few milliseconds: not under the
    // lock, which INDI's thread takes for every message.
    FramedPicture framed =
        framePicture(*frame, framing, cx.value_or(frame->width / 2), cy.value_or(frame->height / 2));
    if (autoLevels)
        levels = autoStretchLevels(framed.values);
    stretchToPicture(framed.values, levels, picture);

    auto values = std::make_shared<const std::vector<float>>(std::move(framed.values));

    std::lock_guard lock(d.mutex);
    d.shownLevels = levels;
    d.placed = {framed.originX, framed.originY, framed.scale, frame->width, frame->height};
    d.values = std::move(values);
    return GrabStatus::NewFrame;
}

std::shared_ptr<const std::vector<float>> IndiCamera::pictureValues() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->values;
}

std::vector<CaptureFormat> IndiCamera::formats()
{
    std::lock_guard lock(impl_->mutex);
    int w = impl_->placed.frameWidth, h = impl_->placed.frameHeight;
    if (w == 0) {
        w = impl_->sensorWidth;
        h = impl_->sensorHeight;
    }
    const std::string whole = w > 0 ? std::to_string(w) + " x " + std::to_string(h) + " whole, reduced" : "Whole frame, reduced";
    return {
        {whole, w, h, 0, "whole"},
        {"320 x 240 window, full resolution", 320, 240, 0, "window"},
        {"320 x 240 window, 2 x 2 binning", 640, 480, 0, "window_binned"},
    };
}

int IndiCamera::currentFormat() const
{
    std::lock_guard lock(impl_->mutex);
    return int(impl_->framing);
}

CaptureStatus IndiCamera::setFormat(int index)
{
    if (index < 0 || index >= kFramingCount)
        return CaptureStatus::failure("no format " + std::to_string(index) + ": choose 0 to " +
                                      std::to_string(kFramingCount - 1));
    std::lock_guard lock(impl_->mutex);
    impl_->framing = Framing(index);
    return {};
}

std::vector<CaptureControl> IndiCamera::controls()
{
    const Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    std::vector<CaptureControl> out;
    auto integer = [&out](std::string id, std::string name, int64_t lo, int64_t hi, int64_t def, int64_t value) {
        CaptureControl c;
        c.id = std::move(id);
        c.name = std::move(name);
        c.minimum = lo;
        c.maximum = hi;
        c.defaultValue = std::clamp(def, lo, hi);
        c.value = std::clamp(value, lo, hi);
        out.push_back(c);
        return &out.back();
    };

    const int64_t expLo = std::max<int64_t>(1, int64_t(std::ceil(d.exposureMinS * 1000)));
    const int64_t expHi = std::max<int64_t>(expLo, std::min<int64_t>(kMaxExposureMs, int64_t(d.exposureMaxS * 1000)));
    integer("exposure", "Exposure (s)", expLo, expHi, kDefaultExposureMs, d.exposureMs)->scale = 0.001;
    if (d.gain) {
        auto* c = integer("gain", "Gain", int64_t(std::ceil(d.gain->minimum)), int64_t(std::floor(d.gain->maximum)),
                          int64_t(std::lround(d.gain->value)), int64_t(std::lround(d.gain->value)));
        c->step = std::max<int64_t>(1, int64_t(std::lround(d.gain->step)));
    }
    if (d.binning && d.binning->maximum >= 2) {
        auto* c = integer("binning", "Binning", 1, int64_t(d.binning->maximum), 1, int64_t(std::lround(d.binning->value)));
        c->kind = CaptureControl::Kind::Menu;
        for (int64_t b = 1; b <= c->maximum; ++b)
            c->menu.emplace_back(b, std::to_string(b) + " x " + std::to_string(b));
    }
    int w = d.placed.frameWidth, h = d.placed.frameHeight;
    if (w == 0) {
        w = d.sensorWidth;
        h = d.sensorHeight;
    }
    const int64_t maxX = w > 0 ? w - 1 : 65535, maxY = h > 0 ? h - 1 : 65535;
    integer("window_x", "Window x", 0, maxX, w / 2, d.centreX.value_or(w / 2));
    integer("window_y", "Window y", 0, maxY, h / 2, d.centreY.value_or(h / 2));
    auto* a = integer("auto_levels", "Auto levels", 0, 1, 1, d.autoLevels ? 1 : 0);
    a->kind = CaptureControl::Kind::Boolean;
    integer("black", "Black", 0, 65535, 0, std::lround(d.shownLevels.black));
    integer("white", "White", 0, 65535, 1000, std::lround(d.shownLevels.white));
    return out;
}

CaptureStatus IndiCamera::setControl(const std::string& id, int64_t value)
{
    Impl& d = *impl_;
    for (const CaptureControl& c : controls()) {
        if (c.id != id)
            continue;
        if (value < c.minimum || value > c.maximum)
            return CaptureStatus::failure(c.name + ": " + std::to_string(value) + " is outside " +
                                          std::to_string(c.minimum) + " to " + std::to_string(c.maximum));
        std::unique_lock lock(d.mutex);
        if (id == "exposure") {
            d.exposureMs = int(value);  // from the next exposure on
        } else if (id == "gain" && d.gain) {
            const NumberRange g = *d.gain;
            lock.unlock();
            d.client.sendNumbers(d.deviceName, g.property, {{g.element, double(value)}});
        } else if (id == "binning") {
            lock.unlock();
            d.client.sendNumbers(d.deviceName, "CCD_BINNING", {{"HOR_BIN", double(value)}, {"VER_BIN", double(value)}});
        } else if (id == "window_x") {
            d.centreX = int(value);
        } else if (id == "window_y") {
            d.centreY = int(value);
        } else if (id == "auto_levels") {
            d.autoLevels = value != 0;
            if (!d.autoLevels)
                d.manualLevels = d.shownLevels;  // the picture does not jump
        } else if (id == "black" || id == "white") {
            if (d.autoLevels)
                d.manualLevels = d.shownLevels;
            d.autoLevels = false;
            (id == "black" ? d.manualLevels.black : d.manualLevels.white) = float(value);
            d.shownLevels = d.manualLevels;
        }
        return {};
    }
    return CaptureStatus::failure("no such control: " + id);
}

PictureOnCamera IndiCamera::pictureOnCamera() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->placed;
}

std::vector<std::unique_ptr<CaptureDriver>> makeIndiCameras(IndiConnection& connection, const Clock& clock)
{
    std::vector<std::unique_ptr<CaptureDriver>> cameras;
    if (!connection.connect().ok)
        return cameras;
    for (const std::string& name : connection.devices(IndiDeviceKind::Camera))
        cameras.push_back(std::make_unique<IndiCamera>(connection, clock, name));
    return cameras;
}
