// The settings file: bytes written, every reading rule, the working copies
// of the levels and a save that never damages the previous file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>

#include "core/state.h"
#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Appends the low `size` bytes of v, least significant first.
void put(Bytes& b, uint64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A record unlike the defaults in every field.
const tparam kSample{91.5, 7.4, 7.5, -3.25, 2, 70000, -1, 1234, 1, 1, 45, 1, 0, -20, 33, 17, 250, 1};

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

void expectSame(const tparam& a, const tparam& b, const std::string& what = "")
{
    for (const auto& f : kFields)
        EXPECT_EQ(f.get(a), f.get(b)) << f.name << " " << what;
}

// A stream up to the class name, by hand: marker and version (if any), tag,
// prefix, name length as the version wants it, name.
Bytes head(bool marker, uint32_t version, uint8_t tag, const std::string& name)
{
    Bytes b;
    if (marker) {
        b.push_back(':');
        put(b, version, 4);
    }
    b.push_back(tag);
    b.push_back('[');
    put(b, name.size(), marker && version > 256 ? 4 : 1);
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

}  // namespace

TEST(SettingsFile, WritesTheHundredAndTenBytes)
{
    tparam p = kSample;
    p.invertDec = 5;  // any non-zero flag is written as 1
    const char* hex =
        "3a01010000025b0600000074706172616d010000000000000000e056409a9999"
        "9999991d400000000000001e400000000000000ac00200000070110100ffffff"
        "ffd204000001000000010000002d0000000100000000000000ecffffff210000"
        "0011000000fa000000010000005d";
    Bytes expected;
    for (size_t i = 0; hex[i]; i += 2)
        expected.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    EXPECT_EQ(encodeParams(p), expected);
}

TEST(SettingsFile, RoundTripKeepsCraftedValuesAndBytes)
{
    tparam p = kSample;
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
    tparam got = d.record;
    got.focalLength = p.focalLength = 0;  // NaN equals nothing: checked above
    expectSame(got, p);
    EXPECT_EQ(encodeParams(d.record), b);
}

TEST(SettingsFile, StreamsThatHoldNoRecordKeepTheDefaults)
{
    const Bytes good = encodeParams(kSample);
    auto withByte = [&](std::size_t at, uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
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
        {"name absent", {':', 1, 1, 0, 0, 2, '[', 0xFF, 0xFF, 0xFF, 0xFF}},
        {"name empty", head(true, 257, 2, "")},
        {"name over 127 bytes", head(true, 257, 2, std::string(70000, 'x'))},
        {"other name", withByte(11, 'T')},
        {"longer name", head(true, 257, 2, "tparams")},
        {"name cut short", Bytes(good.begin(), good.begin() + 14)},
        {"version 0, name absent (255)", {0x02, '[', 0xFF}},
        {"version 0, tag 0x00", {0x00, '[', 6, 't', 'p', 'a', 'r', 'a', 'm'}},
    };
    for (const auto& c : cases) {
        const DecodedParams d = decodeParams(c.bytes);
        EXPECT_FALSE(d.found) << c.what;
        expectSame(d.record, tparam{}, c.what);
    }
}

// Every cut from inside the class version to the suffix: fields wholly read
// keep their value, later integers and flags are 0, later doubles stay at the
// defaults. Cutting after interfaceType (73 bytes) is the classic case.
TEST(SettingsFile, CutShortFileKeepsWhatWasRead)
{
    const Bytes full = encodeParams(kSample);
    for (std::size_t cut = 17; cut < full.size(); ++cut) {
        const DecodedParams d = decodeParams(Bytes(full.begin(), full.begin() + long(cut)));
        ASSERT_TRUE(d.found) << cut;
        EXPECT_FALSE(d.intact) << cut;
        for (const auto& f : kFields) {
            const bool read = std::size_t(f.offset + (f.isDouble ? 8 : 4)) <= cut;
            const double expected = read ? f.get(kSample) : f.isDouble ? f.get(tparam{}) : 0.0;
            EXPECT_EQ(f.get(d.record), expected) << f.name << " with " << cut << " bytes";
        }
    }
}

TEST(SettingsFile, SuffixFlagsClassVersionAndTrailingBytes)
{
    Bytes b = encodeParams(kSample);
    b[109] = 'x';  // wrong suffix: the record is still used
    DecodedParams d = decodeParams(b);
    EXPECT_TRUE(d.found);
    EXPECT_FALSE(d.intact);
    expectSame(d.record, kSample);

    b = encodeParams(kSample);
    b[17] = 0xEF;                                // class version: any value is accepted
    b.insert(b.end(), {0x02, '[', 0xFF, 0xFF});  // bytes after the suffix are ignored
    b[81] = 2;                                   // flags: any non-zero is 1
    b[86] = 1;
    b[105] = 0;
    b[108] = 0x80;
    d = decodeParams(b);
    EXPECT_TRUE(d.intact);
    EXPECT_EQ(d.record.invertDec, 1);
    EXPECT_EQ(d.record.invertRa, 1);
    EXPECT_EQ(d.record.darkSpotGuiding, 1);
    EXPECT_EQ(d.record.optoX, kSample.optoX);
}

TEST(SettingsFile, OlderStreamFormats)
{
    // Version 0 (no marker): one-byte name length, no class version, the
    // 32-bit fields as unsigned 16-bit numbers, flags still 32 bits.
    Bytes v0 = head(false, 0, 2, "tparam");
    for (double x : {80.0, 9.9, 10.0, 11.0})
        put(v0, std::bit_cast<uint64_t>(x), 8);
    for (uint16_t x : {3, 65535, 2, 3, 1, 1, 60})
        put(v0, x, 2);
    put(v0, 7, 4);
    put(v0, 0, 4);
    for (uint16_t x : {100, 65535, 50, 60})
        put(v0, x, 2);
    put(v0, 1, 4);
    v0.push_back(']');
    DecodedParams d = decodeParams(v0);
    ASSERT_TRUE(d.found);
    EXPECT_TRUE(d.intact);
    const tparam expected{80.0, 9.9, 10.0, 11.0, 3, 65535, 2, 3, 1, 1, 60, 1, 0, 100, 65535, 50, 60, 1};
    expectSame(d.record, expected, "version 0");

    // A marked stream of version 256 or below: one-byte name length, but a
    // class version and 32-bit fields.
    const Bytes modern = encodeParams(kSample);
    Bytes v5 = head(true, 5, 2, "tparam");
    v5.insert(v5.end(), modern.begin() + 17, modern.end());
    d = decodeParams(v5);
    ASSERT_TRUE(d.found);
    EXPECT_TRUE(d.intact);
    expectSame(d.record, kSample, "version 5");
}

TEST(SettingsFile, LoadAndSaveCarryTheLevelsThroughSixteenBits)
{
    TempDir dir;
    FakeClock clock;
    SharedState state(clock);
    const std::string path = dir.file("qv185.dat");
    // A missing, empty or unreadable file gives the default record.
    for (const char* content : {"", "garbage", static_cast<const char*>(nullptr)}) {
        fs::remove(path);
        if (content)
            writeFile(path, content);
        state.params->raSpeed = 99.0;
        state.spareLevel1Copy = 9;
        loadParams(state, path);
        expectSame(*state.params, tparam{}, content ? content : "no file");
        EXPECT_EQ(state.spareLevel1Copy, 0);
    }
    // A pipe in the file's place is not read: the start must not wait for a
    // writer (the alarm ends the test if it does).
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    state.params->raSpeed = 99.0;
    alarm(20);
    loadParams(state, path);
    alarm(0);
    expectSame(*state.params, tparam{}, "pipe");
    fs::remove(path);

    tparam stored = kSample;  // levels 70000, -1, 1234
    writeFile(path, text(encodeParams(stored)));
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
    EXPECT_EQ(readFile(path), text(encodeParams(stored)));
}

TEST(SettingsFile, FailedSaveLeavesThePreviousFileWhole)
{
    FakeClock clock;
    SharedState state(clock);
    const std::string old = "previous settings";
    {
        // Target is a directory: it stays, with its content.
        TempDir dir;
        fs::create_directory(dir.file("qv185.dat"));
        writeFile(dir.file("qv185.dat/inside"), old);
        EXPECT_FALSE(trySaveParams(state, dir.file("qv185.dat")));
        EXPECT_EQ(readFile(dir.file("qv185.dat/inside")), old);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
    }
    {
        // A link to a pipe (as to /dev/null): the pipe is not replaced by a
        // plain file.
        TempDir dir;
        ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
        fs::create_symlink("pipe", dir.file("qv185.dat"));
        EXPECT_FALSE(trySaveParams(state, dir.file("qv185.dat")));
        EXPECT_TRUE(fs::is_fifo(dir.file("pipe")));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    }
    {
        // The disk fills up part way (a file-size limit of 50 bytes).
        TempDir dir;
        writeFile(dir.file("qv185.dat"), old);
        bool ok = true;
        withFileSizeLimit(50, [&] { ok = trySaveParams(state, dir.file("qv185.dat")); });
        EXPECT_FALSE(ok);
        EXPECT_EQ(readFile(dir.file("qv185.dat")), old);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);
    }
    {
        // A read-only directory. Its permissions bind only ordinary users: as
        // root, the save is tried from a child that gave up its privileges.
        TempDir dir;
        writeFile(dir.file("qv185.dat"), old);
        chmod(dir.path().c_str(), 0555);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(3);
            _exit(trySaveParams(state, dir.file("qv185.dat")) ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        chmod(dir.path().c_str(), 0755);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the save claimed success, 3: could not drop privileges";
        EXPECT_EQ(readFile(dir.file("qv185.dat")), old);
    }
}

TEST(SettingsFile, SaveKeepsPermissionsAndSymbolicLink)
{
    TempDir dir;
    FakeClock clock;
    SharedState state(clock);
    writeFile(dir.file("real.dat"), "old");
    chmod(dir.file("real.dat").c_str(), 0640);
    fs::create_symlink("real.dat", dir.file("qv185.dat"));
    saveParams(state, dir.file("qv185.dat"));
    EXPECT_TRUE(fs::is_symlink(dir.file("qv185.dat")));
    EXPECT_EQ(readFile(dir.file("real.dat")), text(encodeParams(tparam{})));
    EXPECT_EQ(fs::status(dir.file("real.dat")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SettingsFile, SaveRemovesTemporaryFilesOfKilledSaves)
{
    // A save killed before its rename leaves its temporary file; the next
    // save removes it when its process is gone, and nothing else.
    TempDir dir;
    FakeClock clock;
    SharedState state(clock);
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string orphan = ".quorvel-save-" + std::to_string(child) + "-0.tmp";
    const std::string living = ".quorvel-save-" + std::to_string(getppid()) + "-3.tmp";
    for (const std::string& name : {orphan, living, std::string(".quorvel-save-notes.tmp"), std::string("a.tmp")})
        writeFile(dir.file(name), "x");
    saveParams(state, dir.file("qv185.dat"));
    EXPECT_FALSE(fs::exists(dir.file(orphan)));
    for (const char* kept : {"qv185.dat", ".quorvel-save-notes.tmp", "a.tmp"})
        EXPECT_TRUE(fs::exists(dir.file(kept))) << kept;
    EXPECT_TRUE(fs::exists(dir.file(living)));
}
