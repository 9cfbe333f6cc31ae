// The settings file: bytes written, every reading rule, the working copies
// of the levels and a save that never damages the previous file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>

#include "app/state.h"
#include "settings/paramsfile.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void putDouble(Bytes& b, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; ++i)
        b.push_back(uint8_t(bits >> (8 * i)));
}

// A record unlike the defaults in every field.
tparam sample()
{
    tparam p;
    p.focalLength = 91.5;
    p.pixelSize = 7.4;
    p.raSpeed = 7.5;
    p.decSpeed = -3.25;
    p.comPort = 2;
    p.spareLevel1 = 70000;
    p.spareLevel2 = -1;
    p.spareLevel3 = 1234;
    p.interfaceType = 1;
    p.photoUnit = 1;
    p.photoInterval = 45;
    p.invertDec = 1;
    p.invertRa = 0;
    p.optoX = -20;
    p.optoY = 33;
    p.optoWidth = 17;
    p.optoHeight = 250;
    p.darkSpotGuiding = 1;
    return p;
}

// Each field with its offset in the file, so tests can say which fields a
// cut-short file still holds.
struct FieldInfo {
    const char* name;
    int offset;
    bool isDouble;
    double (*get)(const tparam&);
};
#define FIELD(n, off, dbl) {#n, off, dbl, [](const tparam& p) { return double(p.n); }}
const FieldInfo kFields[] = {
    FIELD(focalLength, 21, true), FIELD(pixelSize, 29, true),   FIELD(raSpeed, 37, true),
    FIELD(decSpeed, 45, true),    FIELD(comPort, 53, false),    FIELD(spareLevel1, 57, false),
    FIELD(spareLevel2, 61, false), FIELD(spareLevel3, 65, false), FIELD(interfaceType, 69, false),
    FIELD(photoUnit, 73, false),  FIELD(photoInterval, 77, false), FIELD(invertDec, 81, false),
    FIELD(invertRa, 85, false),   FIELD(optoX, 89, false),      FIELD(optoY, 93, false),
    FIELD(optoWidth, 97, false),  FIELD(optoHeight, 101, false), FIELD(darkSpotGuiding, 105, false),
};
#undef FIELD

void expectSame(const tparam& a, const tparam& b)
{
    for (const auto& f : kFields)
        EXPECT_EQ(f.get(a), f.get(b)) << f.name;
}

// A stream up to the class name, by hand: marker and version (if any), tag,
// prefix, name length as the version wants it, name.
Bytes head(bool marker, uint32_t version, uint8_t tag, const std::string& name)
{
    Bytes b;
    if (marker) {
        b.push_back(':');
        put32(b, version);
    }
    b.push_back(tag);
    b.push_back('[');
    if (marker && version > 256)
        put32(b, uint32_t(name.size()));
    else
        b.push_back(uint8_t(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

}  // namespace

TEST(SettingsFile, WritesTheHundredAndTenBytes)
{
    tparam p = sample();
    p.invertDec = 5;  // any non-zero flag is written as 1
    const Bytes b = encodeParams(p);
    ASSERT_EQ(b.size(), 110u);
    const Bytes start = {0x3A, 0x01, 0x01, 0x00, 0x00, 0x02, 0x5B, 0x06, 0x00, 0x00, 0x00,
                         't',  'p',  'a',  'r',  'a',  'm',  0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 21), start);
    EXPECT_EQ(Bytes(b.begin() + 37, b.begin() + 45), (Bytes{0, 0, 0, 0, 0, 0, 0x1E, 0x40}));
    const struct {
        int offset;
        Bytes bytes;
    } cases[] = {
        {53, {2, 0, 0, 0}},       {57, {0x70, 0x11, 0x01, 0}}, {61, {0xFF, 0xFF, 0xFF, 0xFF}},
        {69, {1, 0, 0, 0}},       {77, {45, 0, 0, 0}},         {81, {1, 0, 0, 0}},
        {85, {0, 0, 0, 0}},       {89, {0xEC, 0xFF, 0xFF, 0xFF}}, {97, {17, 0, 0, 0}},
        {101, {250, 0, 0, 0}},    {105, {1, 0, 0, 0}},         {109, {0x5D}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bytes(b.begin() + c.offset, b.begin() + c.offset + long(c.bytes.size())), c.bytes)
            << "offset " << c.offset;
    tparam defaults;
    Bytes d = encodeParams(defaults);
    EXPECT_EQ(Bytes(d.begin() + 37, d.begin() + 45), (Bytes{0, 0, 0, 0, 0, 0, 0x28, 0x40}));
}

TEST(SettingsFile, RoundTripKeepsCraftedValuesAndBytes)
{
    tparam p = sample();
    p.comPort = 7;
    p.interfaceType = 7;
    p.optoWidth = -40;
    p.focalLength = std::numeric_limits<double>::quiet_NaN();
    p.pixelSize = -std::numeric_limits<double>::infinity();
    const Bytes b = encodeParams(p);
    const DecodedParams d = decodeParams(b);
    ASSERT_TRUE(d.found);
    EXPECT_TRUE(d.intact);
    EXPECT_TRUE(std::isnan(d.record.focalLength));
    EXPECT_EQ(d.record.pixelSize, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(d.record.comPort, 7);
    EXPECT_EQ(d.record.interfaceType, 7);
    EXPECT_EQ(d.record.optoWidth, -40);
    EXPECT_EQ(d.record.spareLevel1, 70000);
    EXPECT_EQ(encodeParams(d.record), b);
}

TEST(SettingsFile, StreamsThatHoldNoRecordKeepTheDefaults)
{
    const Bytes good = encodeParams(sample());
    auto withByte = [&](std::size_t at, uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    Bytes longName = head(true, 257, 2, std::string(128, 'x'));
    const Bytes absent = {':', 1, 1, 0, 0, 2, '[', 0xFF, 0xFF, 0xFF, 0xFF};
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"marker only", {':'}},
        {"short version", {':', 1, 1}},
        {"tag 0x00", withByte(5, 0x00)},
        {"tag 0x01 (reference)", withByte(5, 0x01)},
        {"tag 0x03", withByte(5, 0x03)},
        {"no prefix", withByte(6, '(')},
        {"name absent", absent},
        {"name empty", head(true, 257, 2, "")},
        {"name over 127 bytes", longName},
        {"other name", withByte(11, 'T')},
        {"longer name", head(true, 257, 2, "tparams")},
        {"name cut short", Bytes(good.begin(), good.begin() + 14)},
        {"version 0, name absent (255)", {0x02, '[', 0xFF}},
        {"version 0, tag 0x00", {0x00, '[', 6, 't', 'p', 'a', 'r', 'a', 'm'}},
    };
    for (const auto& c : cases) {
        const DecodedParams d = decodeParams(c.bytes);
        EXPECT_FALSE(d.found) << c.what;
        expectSame(d.record, tparam{});
    }
}

TEST(SettingsFile, CutShortFileKeepsWhatWasRead)
{
    // Every cut from inside the class version to the suffix: fields wholly
    // read keep their value, later integers and flags are 0, later doubles
    // stay at the defaults. Cutting after interfaceType (73 bytes) is the
    // classic case.
    const tparam written = sample();
    const Bytes full = encodeParams(written);
    for (std::size_t cut = 17; cut < full.size(); ++cut) {
        const DecodedParams d = decodeParams(Bytes(full.begin(), full.begin() + long(cut)));
        ASSERT_TRUE(d.found) << cut;
        EXPECT_FALSE(d.intact) << cut;
        for (const auto& f : kFields) {
            const bool read = std::size_t(f.offset + (f.isDouble ? 8 : 4)) <= cut;
            const double expected = read ? f.get(written) : f.isDouble ? f.get(tparam{}) : 0.0;
            EXPECT_EQ(f.get(d.record), expected) << f.name << " with " << cut << " bytes";
        }
    }
}

TEST(SettingsFile, SuffixFlagsClassVersionAndTrailingBytes)
{
    const tparam written = sample();
    Bytes b = encodeParams(written);
    b[109] = 'x';  // wrong suffix: the record is still used
    DecodedParams d = decodeParams(b);
    EXPECT_TRUE(d.found);
    EXPECT_FALSE(d.intact);
    expectSame(d.record, written);

    b = encodeParams(written);
    b[17] = 0xEF;  // class version: any value is accepted
    b.insert(b.end(), {0x02, '[', 0xFF, 0xFF});  // bytes after the suffix are ignored
    for (auto [offset, bytes] : {std::pair{81, Bytes{2, 0, 0, 0}}, {85, Bytes{0, 1, 0, 0}},
                                 {105, Bytes{0, 0, 0, 0x80}}})
        std::copy(bytes.begin(), bytes.end(), b.begin() + offset);
    d = decodeParams(b);
    EXPECT_TRUE(d.intact);
    EXPECT_EQ(d.record.invertDec, 1);
    EXPECT_EQ(d.record.invertRa, 1);
    EXPECT_EQ(d.record.darkSpotGuiding, 1);
    EXPECT_EQ(d.record.optoX, written.optoX);
}

TEST(SettingsFile, OlderStreamFormats)
{
    // Version 0 (no marker): one-byte name length, no class version, the
    // 32-bit fields as unsigned 16-bit numbers, flags still 32 bits.
    Bytes v0 = head(false, 0, 2, "tparam");
    for (double x : {80.0, 9.9, 10.0, 11.0})
        putDouble(v0, x);
    for (uint16_t x : {3, 65535, 2, 3, 1, 1, 60})
        put16(v0, x);
    put32(v0, 7);
    put32(v0, 0);
    for (uint16_t x : {100, 65535, 50, 60})
        put16(v0, x);
    put32(v0, 1);
    v0.push_back(']');
    DecodedParams d = decodeParams(v0);
    ASSERT_TRUE(d.found);
    EXPECT_TRUE(d.intact);
    EXPECT_EQ(d.record.focalLength, 80.0);
    EXPECT_EQ(d.record.decSpeed, 11.0);
    EXPECT_EQ(d.record.comPort, 3);
    EXPECT_EQ(d.record.spareLevel1, 65535);
    EXPECT_EQ(d.record.photoInterval, 60);
    EXPECT_EQ(d.record.invertDec, 1);
    EXPECT_EQ(d.record.invertRa, 0);
    EXPECT_EQ(d.record.optoY, 65535);
    EXPECT_EQ(d.record.optoHeight, 60);
    EXPECT_EQ(d.record.darkSpotGuiding, 1);

    // A marked stream of version 256 or below: one-byte name length, but a
    // class version and 32-bit fields.
    const Bytes modern = encodeParams(sample());
    Bytes v5 = head(true, 5, 2, "tparam");
    v5.insert(v5.end(), modern.begin() + 17, modern.end());
    d = decodeParams(v5);
    ASSERT_TRUE(d.found);
    EXPECT_TRUE(d.intact);
    expectSame(d.record, sample());
}

TEST(SettingsFile, LoadAndSaveCarryTheLevelsThroughSixteenBits)
{
    TempDir dir;
    const std::string path = dir.file("qv185.dat");
    tparam stored = sample();  // levels 70000, -1, 1234
    const Bytes b = encodeParams(stored);
    writeFile(path, std::string(b.begin(), b.end()));

    FakeClock clock;
    SharedState state(clock);
    loadParams(state, path);
    expectSame(*state.params, stored);
    EXPECT_EQ(state.spareLevel1Copy, 4464);
    EXPECT_EQ(state.spareLevel2Copy, 65535);
    EXPECT_EQ(state.spareLevel3Copy, 1234);

    saveParams(state, path);
    ASSERT_NE(state.params, nullptr);  // the record stays with the state
    stored.spareLevel1 = 4464;
    stored.spareLevel2 = 65535;
    expectSame(*state.params, stored);
    const Bytes expected = encodeParams(stored);
    EXPECT_EQ(readFile(path), std::string(expected.begin(), expected.end()));
}

TEST(SettingsFile, MissingOrBrokenFileGivesTheDefaultRecord)
{
    TempDir dir;
    FakeClock clock;
    SharedState state(clock);
    for (const std::string& content : {std::string("none"), std::string(""), std::string("garbage")}) {
        const std::string path = dir.file("qv185.dat");
        std::filesystem::remove(path);
        if (content != "none")
            writeFile(path, content);
        state.params->raSpeed = 99.0;
        state.spareLevel1Copy = 9;
        loadParams(state, path);
        expectSame(*state.params, tparam{});
        EXPECT_EQ(state.spareLevel1Copy, 0);
    }
    // With no file, saving gives the 110 bytes of the defaults.
    saveParams(state, dir.file("new.dat"));
    const Bytes expected = encodeParams(tparam{});
    EXPECT_EQ(readFile(dir.file("new.dat")), std::string(expected.begin(), expected.end()));
}

TEST(SettingsFile, FailedSaveLeavesThePreviousFileWhole)
{
    FakeClock clock;
    SharedState state(clock);
    state.params->raSpeed = 3.0;
    const std::string old = "previous settings";

    // Target is a directory: it stays, with its content.
    {
        TempDir dir;
        std::filesystem::create_directory(dir.file("qv185.dat"));
        writeFile(dir.file("qv185.dat/inside"), old);
        saveParams(state, dir.file("qv185.dat"));
        EXPECT_EQ(readFile(dir.file("qv185.dat/inside")), old);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
    // The disk fills up part way (a file-size limit of 50 bytes).
    {
        TempDir dir;
        writeFile(dir.file("qv185.dat"), old);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 50;
        setrlimit(RLIMIT_FSIZE, &small);
        const bool ok = trySaveParams(state, dir.file("qv185.dat"));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(ok);
        EXPECT_EQ(readFile(dir.file("qv185.dat")), old);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

// Directory permissions bind only ordinary users: as root, the save is tried
// from a child process that has given up its privileges.
TEST(SettingsFile, SaveIntoReadOnlyDirectoryKeepsTheFile)
{
    const std::string old = "previous settings";
    TempDir dir;
    writeFile(dir.file("qv185.dat"), old);
    chmod(dir.path().c_str(), 0555);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        FakeClock clock;
        SharedState state(clock);
        _exit(trySaveParams(state, dir.file("qv185.dat")) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir.path().c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save claimed success, 3: could not drop privileges";
    EXPECT_EQ(readFile(dir.file("qv185.dat")), old);
}

TEST(SettingsFile, SaveKeepsPermissionsAndSymbolicLink)
{
    TempDir dir;
    FakeClock clock;
    SharedState state(clock);
    writeFile(dir.file("real.dat"), "old");
    chmod(dir.file("real.dat").c_str(), 0640);
    std::filesystem::create_symlink("real.dat", dir.file("qv185.dat"));
    saveParams(state, dir.file("qv185.dat"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("qv185.dat")));
    EXPECT_EQ(readFile(dir.file("real.dat")).size(), 110u);
    struct stat st{};
    stat(dir.file("real.dat").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
