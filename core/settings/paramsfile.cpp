// The settings file: encoder, decoder and the load and save steps.
#include "core/settings/paramsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "core/state.h"

namespace {

constexpr uint8_t kStreamMarker = ':';
constexpr uint32_t kStreamVersion = 0x0101;  // 257
constexpr uint8_t kTagNewObject = 0x02;
constexpr uint8_t kObjectPrefix = '[';
constexpr uint8_t kObjectSuffix = ']';
// Longest class name the reader accepts.
constexpr uint32_t kMaxNameLength = 127;
// The object never needs more than a few hundred bytes; anything further in
// the file is ignored anyway, so a huge or endless file is not read whole.
constexpr std::size_t kMaxBytesRead = 4096;

class ByteWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(uint8_t(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void flag(uint8_t v) { u32(v != 0 ? 1u : 0u); }
    void f64(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 8; ++i)
            bytes_.push_back(uint8_t(bits >> (8 * i)));
    }
    void text(const char* s) { bytes_.insert(bytes_.end(), s, s + std::strlen(s)); }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// Reads little-endian numbers. The first read that comes up short puts the
// reader in error; from then on every read fails, as a stream in error does.
class ByteReader {
public:
    ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool failed() const { return failed_; }

    bool bytes(uint8_t* out, std::size_t n)
    {
        if (failed_ || size_ - pos_ < n) {
            failed_ = true;
            return false;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& v) { return bytes(&v, 1); }
    // Integer reads give 0 once the reader is in error.
    uint32_t u32()
    {
        uint8_t b[4];
        if (!bytes(b, 4))
            return 0;
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
    uint16_t u16()
    {
        uint8_t b[2];
        if (!bytes(b, 2))
            return 0;
        return uint16_t(b[0] | b[1] << 8);
    }
    // A double read in error leaves the target as it was.
    void f64(double& v)
    {
        uint8_t b[8];
        if (!bytes(b, 8))
            return;
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = bits << 8 | b[i];
        std::memcpy(&v, &bits, sizeof v);
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

void readFields(ByteReader& in, uint32_t streamVersion, tparam& p)
{
    // Version-0 streams carried the 32-bit fields as unsigned 16-bit numbers;
    // flags were always 32 bits.
    auto integer = [&]() -> int32_t {
        return streamVersion != 0 ? int32_t(in.u32()) : int32_t(in.u16());
    };
    auto flag = [&]() -> uint8_t { return in.u32() != 0 ? 1 : 0; };

    in.f64(p.focalLength);
    in.f64(p.pixelSize);
    in.f64(p.raSpeed);
    in.f64(p.decSpeed);
    p.comPort = integer();
    p.spareLevel1 = integer();
    p.spareLevel2 = integer();
    p.spareLevel3 = integer();
    p.interfaceType = integer();
    p.photoUnit = integer();
    p.photoInterval = integer();
    p.invertDec = flag();
    p.invertRa = flag();
    p.optoX = integer();
    p.optoY = integer();
    p.optoWidth = integer();
    p.optoHeight = integer();
    p.darkSpotGuiding = flag();
}

// The first bytes of the file at path. Only a regular file is read: a pipe
// or a terminal in its place would block the start for ever, and a device
// such as /dev/null holds no settings anyway.
std::vector<uint8_t> readHead(const std::string& path, bool& opened)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    opened = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (opened) {
        bytes.resize(kMaxBytesRead);
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        bytes.resize(got);
    }
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

}  // namespace

std::vector<uint8_t> encodeParams(const tparam& p)
{
    ByteWriter out;
    out.u8(kStreamMarker);
    out.u32(kStreamVersion);
    out.u8(kTagNewObject);
    out.u8(kObjectPrefix);
    out.u32(uint32_t(std::strlen(tparam::className)));
    out.text(tparam::className);
    out.u32(tparam::classVersion);
    out.f64(p.focalLength);
    out.f64(p.pixelSize);
    out.f64(p.raSpeed);
    out.f64(p.decSpeed);
    out.i32(p.comPort);
    out.i32(p.spareLevel1);
    out.i32(p.spareLevel2);
    out.i32(p.spareLevel3);
    out.i32(p.interfaceType);
    out.i32(p.photoUnit);
    out.i32(p.photoInterval);
    out.flag(p.invertDec);
    out.flag(p.invertRa);
    out.i32(p.optoX);
    out.i32(p.optoY);
    out.i32(p.optoWidth);
    out.i32(p.optoHeight);
    out.flag(p.darkSpotGuiding);
    out.u8(kObjectSuffix);
    return out.take();
}

DecodedParams decodeParams(const uint8_t* data, std::size_t size)
{
    DecodedParams result;
    if (size == 0)
        return result;
    ByteReader in(data, size);

    // A stream without the marker is a version-0 stream; its first byte is
    // then already the tag.
    uint32_t streamVersion = 0;
    if (data[0] == kStreamMarker) {
        uint8_t marker;
        in.u8(marker);
        streamVersion = in.u32();
    }

    // Only a new object can hold the record: "no object" (0x00), a reference
    // to an earlier object (0x01, and there is none) or anything else gives
    // no record.
    uint8_t tag = 0, prefix = 0;
    if (!in.u8(tag) || tag != kTagNewObject)
        return result;
    if (!in.u8(prefix) || prefix != kObjectPrefix)
        return result;

    uint32_t nameLength = 0;
    bool nameAbsent = false;
    if (streamVersion > 256) {
        nameLength = in.u32();
        nameAbsent = nameLength == 0xFFFFFFFFu;
    } else {
        uint8_t b = 0;
        in.u8(b);
        nameLength = b;
        nameAbsent = b == 0xFF;
    }
    if (in.failed() || nameAbsent || nameLength == 0 || nameLength > kMaxNameLength)
        return result;
    uint8_t name[kMaxNameLength];
    if (!in.bytes(name, nameLength))
        return result;
    if (nameLength != std::strlen(tparam::className) ||
        std::memcmp(name, tparam::className, nameLength) != 0)
        return result;

    // From here on the object is used whatever happens: a short stream only
    // leaves the fields it did not reach at 0 (integers, flags) or at the
    // defaults (doubles).
    tparam fresh;
    if (streamVersion != 0)
        (void)in.u32();  // class version: any value is accepted
    readFields(in, streamVersion, fresh);
    uint8_t suffix = 0;
    const bool suffixOk = in.u8(suffix) && suffix == kObjectSuffix;

    result.found = true;
    result.intact = suffixOk && !in.failed();
    result.record = fresh;
    return result;
}

void loadParams(SharedState& state, const std::string& path)
{
    state.params = std::make_unique<tparam>();
    bool opened = false;
    const std::vector<uint8_t> bytes = readHead(path, opened);
    if (opened) {
        DecodedParams decoded = decodeParams(bytes);
        if (decoded.found)
            *state.params = decoded.record;
    }
    state.spareLevel1Copy = uint16_t(uint32_t(state.params->spareLevel1));
    state.spareLevel2Copy = uint16_t(uint32_t(state.params->spareLevel2));
    state.spareLevel3Copy = uint16_t(uint32_t(state.params->spareLevel3));
}

int storeParams(SharedState& state, const std::string& path)
{
    if (!state.params)
        return EINVAL;
    tparam& p = *state.params;
    p.spareLevel1 = int32_t(state.spareLevel1Copy);
    p.spareLevel2 = int32_t(state.spareLevel2Copy);
    p.spareLevel3 = int32_t(state.spareLevel3Copy);
    const std::vector<uint8_t> bytes = encodeParams(p);
    return replaceFile(path, bytes);
}

bool trySaveParams(SharedState& state, const std::string& path) { return storeParams(state, path) == 0; }

std::string saveFailureText(int error, const std::string& path)
{
    return "could not write " + path + " (" + std::strerror(error) + "); the previous file is kept";
}

void saveParams(SharedState& state, const std::string& path)
{
    // Nothing is reported at exit; a failed save leaves the previous file.
    (void)trySaveParams(state, path);
}
