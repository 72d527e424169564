#include "platform/desktop/WindowTitle.h"

#include <glib.h>

namespace ns::desktop {

std::string WindowTitle(const ns::Bundle& bundle) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        const std::string* name = bundle.ObjectForInfoDictionaryKey(key).AsString();
        if (name != nullptr && !name->empty()) return *name;
    }
    const char* program = g_get_prgname();
    return program != nullptr ? program : "application";
}

}  // namespace ns::desktop
