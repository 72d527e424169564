#ifndef PLATFORM_STORE_BUNDLE_H
#define PLATFORM_STORE_BUNDLE_H
// The application's resource folder:
//
//     <path>/Info.plist                   identifier, development language, other settings
//     <path>/<name>.<type>                resources used whatever the language
//     <path>/<lang>.lproj/<name>.<type>   resources of one language
//     <path>/<lang>.lproj/<table>.strings localised texts (default table "Localizable")
//
// One language folder is chosen when the bundle is made, from a list of preferred languages
// (by default the user's from the environment), falling back to the development language.
// Resource names are looked up inside the folder only: a name or type holding a path
// separator that climbs out ("..") or starts at the root finds nothing.
//
// All lookups may run on any thread; strings tables are read once, when first used.

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"
#include "platform/store/ImageSize.h"
#include "platform/store/StringsFile.h"

namespace ns {

class Bundle {
public:
    // The bundle of the folder at path (need not exist: then it holds nothing).
    explicit Bundle(std::string path);
    Bundle(std::string path, std::vector<std::string> preferredLanguages);
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // The application's bundle: the folder "Resources" beside the running program, made on
    // first use with the environment's languages.
    static Bundle& Main();

    const std::string& Path() const { return path_; }

    // Info.plist's top dictionary (a null value when the file is missing or unreadable).
    const Value& InfoDictionary() const { return info_; }
    const Value& ObjectForInfoDictionaryKey(std::string_view key) const { return info_[key]; }
    // "CFBundleIdentifier" (empty when not given).
    std::string Identifier() const;
    // "CFBundleDevelopmentRegion", or "en" when not given.
    std::string DevelopmentLocalization() const;

    // The languages the bundle has a folder for, sorted; and the one chosen (empty when none).
    const std::vector<std::string>& Localizations() const { return localizations_; }
    const std::string& Localization() const { return localization_; }

    // The path of resource name.type (type may be empty, or name may carry its extension),
    // looked up in subdirectory: first among the language-independent resources, then in the
    // chosen language folder, then in the development language's. Empty when there is none.
    std::string PathForResource(std::string_view name, std::string_view type,
                                std::string_view subdirectory = {}) const;

    // The text for key in table (empty: "Localizable") of the chosen language; when the
    // table has no such key, value if it is not empty, else the key itself. A malformed
    // table counts as empty.
    std::string LocalizedString(std::string_view key, std::string_view value = {},
                                std::string_view table = {}) const;

    // The path of the picture called name: as given when it carries an extension, else
    // name.png, name.jpg or name.jpeg; empty when none exists.
    std::string PathForImage(std::string_view name) const;
    // The pixel size of that picture; false (error saying why) when it is missing or
    // unreadable.
    bool ImageSizeNamed(std::string_view name, ImageSize& size, std::string* error = nullptr) const;

    // The languages of LANGUAGE (a colon-separated list), else LC_ALL, LC_MESSAGES or LANG,
    // as language tags ("de_AT.UTF-8" -> "de-AT"); "C" and "POSIX" name none.
    static std::vector<std::string> PreferredLanguagesFromEnvironment();
    // The first of preferred that available holds (case and "_"/"-" ignored), or whose
    // language part ("de" of "de-AT") does; else development if available, else the first
    // available; empty when available is.
    static std::string ChooseLocalization(const std::vector<std::string>& available,
                                          const std::vector<std::string>& preferred,
                                          const std::string& development);

private:
    std::string FindFile(const std::string& folder, const std::string& relative) const;
    const StringsFile& Table(const std::string& name) const;

    std::string path_;
    Value info_;
    std::vector<std::string> localizations_;
    std::string localization_;
    std::string development_;
    mutable std::mutex tablesLock_;
    mutable std::map<std::string, StringsFile> tables_;
};

}  // namespace ns

#endif  // PLATFORM_STORE_BUNDLE_H
