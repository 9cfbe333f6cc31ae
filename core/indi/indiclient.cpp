// The INDI client: a copy of each device's state, listeners, guarded sends.
#include "core/indi/indiclient.h"

#include <libindi/indipropertynumber.h>
#include <libindi/indipropertyswitch.h>
#include <libindi/indipropertytext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int64_t steadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

IndiClient::~IndiClient()
{
    // While this object is whole: the library's thread calls back into it.
    close();
}

bool IndiClient::open(const std::string& host, int port, int timeoutMs)
{
    close();
    {
        std::lock_guard lock(mutex_);
        devices_.clear();
        lastDefinitionUs_ = 0;
    }
    setServer(host.c_str(), unsigned(port));
    setConnectionTimeout(uint32_t(timeoutMs / 1000), uint32_t(timeoutMs % 1000) * 1000u);
    if (!connectServer())
        return false;
    std::lock_guard lock(mutex_);
    up_ = true;
    return true;
}

void IndiClient::close()
{
    // The library stays "connected" after the server went away until told.
    if (isServerConnected())
        disconnectServer();
    std::lock_guard lock(mutex_);
    up_ = false;
}

bool IndiClient::up() const
{
    std::lock_guard lock(mutex_);
    return up_;
}

int IndiClient::addListener(const std::string& device, Listener listener)
{
    std::lock_guard lock(listenersMutex_);
    listeners_.push_back({nextListener_, device, std::move(listener)});
    return nextListener_++;
}

void IndiClient::removeListener(int id)
{
    std::lock_guard lock(listenersMutex_);
    std::erase_if(listeners_, [id](const Entry& e) { return e.id == id; });
}

void IndiClient::dispatch(const IndiEvent& event)
{
    std::lock_guard lock(listenersMutex_);
    for (const Entry& e : listeners_)
        if (event.kind == IndiEvent::Kind::ServerLost || e.device == event.device)
            e.listener(event);
}

std::optional<IndiClient::DeviceInfo> IndiClient::device(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(name);
    if (it == devices_.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::string> IndiClient::deviceNames(uint16_t interfaceMask) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::pair<int, std::string>> found;
    for (const auto& [name, info] : devices_)
        if (info.interfaces & interfaceMask)
            found.emplace_back(info.order, name);
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found)
        names.push_back(std::move(f.second));
    return names;
}

int64_t IndiClient::lastDefinitionUs() const
{
    std::lock_guard lock(mutex_);
    return lastDefinitionUs_;
}

bool IndiClient::waitFor(const std::function<bool(const std::map<std::string, DeviceInfo>&)>& pred,
                         std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return pred(devices_); });
}

void IndiClient::wantBlobs(const std::string& device, const std::string& property, bool on)
{
    {
        std::lock_guard lock(mutex_);
        blobWanted_[device] = {property, on};
    }
    std::lock_guard send(sendMutex_);
    if (isServerConnected())
        sendPingRequest(("quorvel-blobs-" + device).c_str());
}

bool IndiClient::blobsEnabled(const std::string& device) const
{
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(device);
    return it != devices_.end() && it->second.blobs;
}

// On INDI's thread only: the library reads its BLOB modes there unguarded.
void IndiClient::applyBlobModes()
{
    std::vector<std::pair<std::string, BlobWish>> changes;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [device, wish] : blobWanted_) {
            const auto it = devices_.find(device);
            if (it != devices_.end() && it->second.blobs != wish.on)
                changes.emplace_back(device, wish);
        }
    }
    if (changes.empty())
        return;
    {
        std::lock_guard send(sendMutex_);
        for (const auto& [device, wish] : changes)
            setBLOBMode(wish.on ? B_ALSO : B_NEVER, device.c_str(), wish.property.c_str());
    }
    {
        std::lock_guard lock(mutex_);
        for (const auto& [device, wish] : changes)
            if (const auto it = devices_.find(device); it != devices_.end())
                it->second.blobs = wish.on;
    }
    changed_.notify_all();
}

void IndiClient::note(const INDI::Property& property, bool defined)
{
    const std::string device = property.getDeviceName();
    const std::string name = property.getName();
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = devices_.try_emplace(device);
        DeviceInfo& info = it->second;
        if (added)
            info.order = nextOrder_++;
        if (defined) {
            info.properties.insert(name);
            lastDefinitionUs_ = steadyUs();
        }
        if (name == "DRIVER_INFO" && property.getType() == INDI_TEXT) {
            if (auto* element = property.getText()->findWidgetByName("DRIVER_INTERFACE"))
                info.interfaces = uint16_t(std::strtoul(element->getText(), nullptr, 10));
        }
        if (property.getType() == INDI_SWITCH) {
            const auto* on = property.getSwitch()->findOnSwitch();
            info.switchOn[name] = on ? on->getName() : "";
        }
        if (name == "CONNECTION" && property.getType() == INDI_SWITCH) {
            auto* on = property.getSwitch()->findWidgetByName("CONNECT");
            info.connected = on && on->getState() == ISS_ON && property.getState() == IPS_OK;
            info.connectionAlert = property.getState() == IPS_ALERT;
        }
    }
    changed_.notify_all();
}

void IndiClient::newDevice(INDI::BaseDevice device)
{
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = devices_.try_emplace(device.getDeviceName());
        if (added)
            it->second.order = nextOrder_++;
        lastDefinitionUs_ = steadyUs();
    }
    changed_.notify_all();
}

void IndiClient::removeDevice(INDI::BaseDevice device)
{
    const std::string name = device.getDeviceName();
    {
        std::lock_guard lock(mutex_);
        devices_.erase(name);
    }
    changed_.notify_all();
    IndiEvent e;
    e.kind = IndiEvent::Kind::DeviceRemoved;
    e.device = name;
    dispatch(e);
}

void IndiClient::newProperty(INDI::Property property)
{
    note(property, true);
    applyBlobModes();
    dispatch({IndiEvent::Kind::Defined, property, property.getDeviceName()});
}

void IndiClient::updateProperty(INDI::Property property)
{
    note(property, false);
    applyBlobModes();
    dispatch({IndiEvent::Kind::Updated, property, property.getDeviceName()});
}

void IndiClient::removeProperty(INDI::Property property)
{
    const std::string device = property.getDeviceName();
    {
        std::lock_guard lock(mutex_);
        if (const auto it = devices_.find(device); it != devices_.end()) {
            it->second.properties.erase(property.getName());
            it->second.switchOn.erase(property.getName());
            if (std::strcmp(property.getName(), "CONNECTION") == 0)
                it->second.connected = false;
        }
    }
    changed_.notify_all();
    dispatch({IndiEvent::Kind::Removed, property, device});
}

void IndiClient::serverDisconnected(int)
{
    {
        std::lock_guard lock(mutex_);
        const bool wasUp = up_;
        up_ = false;
        devices_.clear();
        if (!wasUp)
            return;  // a connection that never came up, or told twice
    }
    changed_.notify_all();
    IndiEvent e;
    e.kind = IndiEvent::Kind::ServerLost;
    dispatch(e);
}

void IndiClient::newPingReply(std::string)
{
    applyBlobModes();
}

void IndiClient::sendNumbers(const std::string& device, const std::string& property,
                             const std::vector<std::pair<std::string, double>>& values)
{
    INDI::PropertyNumber p(values.size());
    p.setDeviceName(device.c_str());
    p.setName(property.c_str());
    for (size_t i = 0; i < values.size(); ++i) {
        p[i].setName(values[i].first.c_str());
        p[i].setValue(values[i].second);
    }
    std::lock_guard send(sendMutex_);
    if (up())
        sendNewNumber(p);
}

void IndiClient::sendSwitches(const std::string& device, const std::string& property,
                              const std::vector<std::pair<std::string, bool>>& states)
{
    if (property == "CONNECTION") {  // an earlier refusal is not this attempt's
        std::lock_guard lock(mutex_);
        if (const auto it = devices_.find(device); it != devices_.end())
            it->second.connectionAlert = false;
    }
    INDI::PropertySwitch p(states.size());
    p.setDeviceName(device.c_str());
    p.setName(property.c_str());
    for (size_t i = 0; i < states.size(); ++i) {
        p[i].setName(states[i].first.c_str());
        p[i].setState(states[i].second ? ISS_ON : ISS_OFF);
    }
    std::lock_guard send(sendMutex_);
    if (up())
        sendNewSwitch(p);
}
