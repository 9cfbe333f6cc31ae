// Timed photography (see photoseries.h).
#include "core/photo/photoseries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

#include "core/files/replacefile.h"
#include "core/measure/measure.h"
#include "core/photo/bmp.h"

namespace {

constexpr const char* kShotTempPrefix = ".quorvel-shot-";
constexpr const char* kDefaultFileName = "Capture.bmp";
// The shot whose name is the longest checked: five digits, no blank.
constexpr int64_t kLongestCheckedShot = 99999;

std::string errnoText(int error) { return std::generic_category().message(error); }

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The directory of an absolute name and its file name.
std::pair<std::string, std::string> splitName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& directory, const std::string& name)
{
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

}  // namespace

IntervalField readIntervalField(std::string_view text)
{
    IntervalField field;
    field.plain = !text.empty() && text.size() <= 5 && std::all_of(text.begin(), text.end(), isDigit);

    const std::string_view head = text.substr(0, 5);
    std::size_t i = 0;
    while (i < head.size() && isSpace(head[i]))
        ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-'))
        negative = head[i++] == '-';
    int32_t value = 0;
    for (; i < head.size() && isDigit(head[i]); ++i)
        value = value * 10 + (head[i] - '0');
    field.value = negative ? 0 : value;
    return field;
}

const char* photoUnitName(int32_t photoUnit)
{
    return kPhotoUnitNames[photoUnit == 1 ? 1 : 0];
}

int64_t photoIntervalToMs(int32_t photoInterval, int32_t photoUnit)
{
    const int64_t seconds = photoUnit == 1 ? 60 : 1;
    return int64_t(std::max(photoInterval, 0)) * seconds * 1000;
}

BaseCheck checkPhotoBase(const std::string& base, const std::string& currentDirectory)
{
    BaseCheck check;
    if (base.empty()) {
        check.problem = BaseProblem::Empty;
        return check;
    }
    check.path = base.front() == '/' ? base : joinPath(currentDirectory, base);
    const auto [directory, fileName] = splitName(check.path);
    check.directory = directory;

    if (fileName.empty() || fileName == "." || fileName == "..") {
        check.problem = BaseProblem::IsDirectory;
        return check;
    }
    if (fileName.front() == '.') {
        check.problem = BaseProblem::NoFileName;
        return check;
    }

    // The longest names a series up to shot 99,999 puts in the directory.
    const std::string longestShot = PhotoSeries::shotName(check.path, kLongestCheckedShot);
    const std::size_t longestName = std::max(splitName(longestShot).second.size(),
                                             longestTempName(kShotTempPrefix));
    const std::size_t longestPath = directory.size() + 1 + longestName;
    if (longestPath > PATH_MAX - 1) {
        check.problem = BaseProblem::PathTooLong;
        check.limit = PATH_MAX - 1;
        return check;
    }

    struct stat st;
    const bool found = ::stat(directory.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
        check.problem = BaseProblem::NoDirectory;
        check.error = found ? ENOTDIR : errno;
        return check;
    }
    if (::stat(check.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        check.problem = BaseProblem::IsDirectory;
        return check;
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        check.problem = BaseProblem::NotWritable;
        check.error = errno;
        return check;
    }
    long nameMax = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    if (longestName > std::size_t(nameMax)) {
        check.problem = BaseProblem::NameTooLong;
        check.limit = nameMax;
        return check;
    }

    check.replacesShots = ::stat(PhotoSeries::shotName(check.path, 0).c_str(), &st) == 0;
    return check;
}

std::string baseCheckMessage(const BaseCheck& c, Language language)
{
    const bool fr = language == Language::French;
    const std::string why = errnoText(c.error);
    const std::string limit = std::to_string(c.limit);
    switch (c.problem) {
    case BaseProblem::None:
        return {};
    case BaseProblem::Empty:
        return fr ? "Aucun nom de fichier." : "no file name given";
    case BaseProblem::IsDirectory:
        return fr ? "« " + c.path + " » est un répertoire : choisissez un nom de fichier, par exemple Capture.bmp."
                  : c.path + " is a directory: give a file name, such as Capture.bmp, in it";
    case BaseProblem::NoFileName:
        return fr ? "« " + c.path + " » : le nom du fichier est vide avant son extension."
                  : c.path + ": the file name is empty before its extension";
    case BaseProblem::NoDirectory:
        return fr ? "Répertoire « " + c.directory + " » introuvable : " + why + "."
                  : "directory " + c.directory + " cannot be used: " + why;
    case BaseProblem::NotWritable:
        return fr ? "Impossible d'écrire dans le répertoire « " + c.directory + " » : " + why + "."
                  : "cannot write in directory " + c.directory + ": " + why;
    case BaseProblem::PathTooLong:
        return fr ? "Chemin trop long : le nom complet des photos dépasserait " + limit + " caractères."
                  : c.path + ": the full names of the shots would pass " + limit + " characters";
    case BaseProblem::NameTooLong:
        return fr ? "Nom trop long : le nom des photos dépasserait " + limit + " caractères."
                  : c.path + ": the file names of the shots would pass " + limit + " characters";
    }
    return {};
}

std::string ShotResult::message() const
{
    if (ok)
        return {};
    return "shot " + std::to_string(n) + " not written to " + file + ": " + errorText;
}

PhotoSeries::PhotoSeries(std::string currentDirectory, Writer writer)
    : currentDirectory_(std::move(currentDirectory)),
      writer_(std::move(writer)),
      photoPath_(defaultPath(currentDirectory_))
{
}

BaseCheck PhotoSeries::start(int32_t photoInterval, int32_t photoUnit,
                             const std::optional<std::string>& chosenBase)
{
    BaseCheck check = checkPhotoBase(chosenBase ? *chosenBase : photoPath_, currentDirectory_);
    if (!check.ok())
        return check;
    if (chosenBase) {
        photoPath_ = check.path;
        photoPathIsDefault_ = false;
    }
    photoIntervalMs_ = photoIntervalToMs(photoInterval, photoUnit);
    lastShotTime_ = 0;
    photoCount_ = 0;
    photoRunning_ = true;
    return check;
}

std::optional<ShotResult> PhotoSeries::tick(int64_t nowMs, const PixelView& picture)
{
    if (!photoRunning_ || nowMs - lastShotTime_ < photoIntervalMs_)
        return std::nullopt;
    lastShotTime_ = nowMs;

    ShotResult shot;
    shot.n = photoCount_;
    shot.file = shotName(photoPath_, photoCount_);
    shot.error = writer_(shot.file, photoBmp(greyCapture(picture)));
    shot.ok = shot.error == 0;
    if (!shot.ok)
        shot.errorText = errnoText(shot.error);
    // A shot that failed keeps its number: the next one takes the next.
    ++photoCount_;
    return shot;
}

std::string PhotoSeries::shotName(const std::string& base, int64_t count)
{
    const std::size_t slash = base.rfind('/');
    const std::size_t dot = base.find('.', slash == std::string::npos ? 0 : slash + 1);
    std::string name = base.substr(0, dot);
    if (count < 1000)
        name += " 0";
    if (count < 100)
        name += "0";
    if (count < 10)
        name += "0";
    return name + std::to_string(count) + ".bmp";
}

std::string PhotoSeries::defaultPath(const std::string& directory)
{
    return joinPath(directory, kDefaultFileName);
}

std::string PhotoSeries::countText(int64_t n)
{
    return "N\u00b0: " + std::to_string(n);
}

int PhotoSeries::writeShot(const std::string& file, const std::vector<uint8_t>& bytes)
{
    return replaceFile(file, bytes, {.tempPrefix = kShotTempPrefix, .sync = false});
}

std::string PhotoSeries::workingDirectory()
{
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    return ec ? std::string(".") : here.string();
}
