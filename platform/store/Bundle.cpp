#include "platform/store/Bundle.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "platform/store/PropertyList.h"

namespace ns {

namespace {

const char kLprojSuffix[] = ".lproj";

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A relative path that stays inside the folder: no empty, "." or ".." components, not
// absolute, no NUL.
bool IsInsidePath(std::string_view relative) {
    if (relative.empty() || relative.front() == '/' ||
        relative.find('\0') != std::string_view::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

// "de_AT" and "DE-at" compare equal.
std::string NormalisedTag(std::string_view tag) {
    std::string out;
    for (char c : tag) {
        out += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string LanguagePart(const std::string& normalised) {
    return normalised.substr(0, normalised.find('-'));
}

// "de_AT.UTF-8@euro" -> "de-AT"; empty for "C", "POSIX" and empty values.
std::string TagFromLocale(std::string_view locale) {
    const size_t cut = locale.find_first_of(".@");
    if (cut != std::string_view::npos) locale = locale.substr(0, cut);
    if (locale.empty() || locale == "C" || locale == "POSIX") return {};
    std::string tag(locale);
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

std::vector<std::string> LanguageFolders(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return names;
    const size_t suffix = sizeof(kLprojSuffix) - 1;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kLprojSuffix) == 0) {
            struct stat st;
            if (stat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                names.push_back(name.substr(0, name.size() - suffix));
            }
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ExecutableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return ".";
    buffer.resize(static_cast<size_t>(n));
    const size_t slash = buffer.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : buffer.substr(0, slash);
}

}  // namespace

Bundle::Bundle(std::string path) : Bundle(std::move(path), PreferredLanguagesFromEnvironment()) {}

Bundle::Bundle(std::string path, std::vector<std::string> preferredLanguages)
    : path_(std::move(path)) {
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    Value info;
    std::string error;
    // A missing or unreadable Info.plist leaves the bundle without settings: every key then
    // reads as null, as for a bundle that never had them.
    if (PropertyList::ReadFile(path_ + "/Info.plist", info, error) && info.IsDictionary()) {
        info_ = std::move(info);
    }
    development_ = DevelopmentLocalization();
    localizations_ = LanguageFolders(path_);
    localization_ = ChooseLocalization(localizations_, preferredLanguages, development_);
}

Bundle& Bundle::Main() {
    // Never destroyed: lookups may still run while other statics go away at exit.
    static Bundle* main = new Bundle(ExecutableFolder() + "/Resources");
    return *main;
}

std::string Bundle::Identifier() const {
    const std::string* id = info_["CFBundleIdentifier"].AsString();
    return id ? *id : std::string();
}

std::string Bundle::DevelopmentLocalization() const {
    const std::string* region = info_["CFBundleDevelopmentRegion"].AsString();
    return region && !region->empty() ? *region : std::string("en");
}

std::string Bundle::FindFile(const std::string& folder, const std::string& relative) const {
    const std::string path = folder.empty() ? path_ + "/" + relative
                                            : path_ + "/" + folder + kLprojSuffix + "/" + relative;
    return IsRegularFile(path) ? path : std::string();
}

std::string Bundle::PathForResource(std::string_view name, std::string_view type,
                                    std::string_view subdirectory) const {
    std::string relative;
    if (!subdirectory.empty()) {
        relative.assign(subdirectory);
        while (!relative.empty() && relative.back() == '/') relative.pop_back();
        relative += '/';
    }
    relative.append(name);
    if (!type.empty()) {
        if (type.front() != '.') relative += '.';
        relative.append(type);
    }
    if (name.empty() || !IsInsidePath(relative)) return {};
    std::string found = FindFile({}, relative);
    if (found.empty() && !localization_.empty()) found = FindFile(localization_, relative);
    if (found.empty() && development_ != localization_ &&
        std::find(localizations_.begin(), localizations_.end(), development_) !=
            localizations_.end()) {
        found = FindFile(development_, relative);
    }
    return found;
}

const StringsFile& Bundle::Table(const std::string& name) const {
    std::lock_guard<std::mutex> lock(tablesLock_);
    auto it = tables_.find(name);
    if (it != tables_.end()) return it->second;
    StringsFile& table = tables_[name];
    const std::string relative = name + ".strings";
    if (IsInsidePath(relative)) {
        // The chosen language's table, else the development language's, else one shared by
        // every language.
        std::string path;
        if (!localization_.empty()) path = FindFile(localization_, relative);
        if (path.empty() && !development_.empty()) path = FindFile(development_, relative);
        if (path.empty()) path = FindFile({}, relative);
        // A malformed table is refused whole (StringsFile) and so counts as empty.
        if (!path.empty()) table.Load(path);
    }
    return table;
}

std::string Bundle::LocalizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
    const StringsFile& strings =
        Table(table.empty() ? std::string("Localizable") : std::string(table));
    if (const std::string* text = strings.Find(key)) return *text;
    return std::string(value.empty() ? key : value);
}

std::string Bundle::PathForImage(std::string_view name) const {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        return PathForResource(name, {});
    }
    for (const char* type : {"png", "jpg", "jpeg"}) {
        std::string path = PathForResource(name, type);
        if (!path.empty()) return path;
    }
    return {};
}

bool Bundle::ImageSizeNamed(std::string_view name, ImageSize& size, std::string* error) const {
    const std::string path = PathForImage(name);
    if (path.empty()) {
        if (error) *error = "no picture named \"" + std::string(name) + "\" in " + path_;
        return false;
    }
    return ImageSize::ReadFile(path, size, error);
}

std::vector<std::string> Bundle::PreferredLanguagesFromEnvironment() {
    std::vector<std::string> tags;
    if (const char* language = std::getenv("LANGUAGE"); language && *language) {
        std::string_view list = language;
        while (!list.empty()) {
            const size_t colon = list.find(':');
            const std::string tag = TagFromLocale(list.substr(0, colon));
            if (!tag.empty()) tags.push_back(tag);
            list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
        }
        if (!tags.empty()) return tags;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            // The first one set decides, even when it names no language ("C").
            const std::string tag = TagFromLocale(value);
            if (!tag.empty()) tags.push_back(tag);
            break;
        }
    }
    return tags;
}

std::string Bundle::ChooseLocalization(const std::vector<std::string>& available,
                                       const std::vector<std::string>& preferred,
                                       const std::string& development) {
    if (available.empty()) return {};
    for (const std::string& want : preferred) {
        const std::string tag = NormalisedTag(want);
        if (tag.empty()) continue;
        for (const std::string& have : available) {
            if (NormalisedTag(have) == tag) return have;
        }
        // "de-AT" takes "de", then any other "de-..." folder.
        const std::string language = LanguagePart(tag);
        for (const std::string& have : available) {
            if (NormalisedTag(have) == language) return have;
        }
        for (const std::string& have : available) {
            if (LanguagePart(NormalisedTag(have)) == language) return have;
        }
    }
    const std::string dev = NormalisedTag(development);
    for (const std::string& have : available) {
        if (NormalisedTag(have) == dev) return have;
    }
    return available.front();
}

}  // namespace ns
