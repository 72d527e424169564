#ifndef ENGINE_CORE_SVMKCREDENTIALS_H
#define ENGINE_CORE_SVMKCREDENTIALS_H

#include "SVLibrary/TypedValue/SVDictionary.h"

namespace SarvelonMediaKit {

// The settings record of a playback: a dictionary of "CredentialsKey_*" entries, made once by
// the bridge and shared (not copied) by the engine's setup, its Transformer and its sessions.
class SVMKCredentials {
public:
    SVMKCredentials() {}
    explicit SVMKCredentials(const SV::SVDictionary& entries) : entries_(entries) {}

    SV::SVDictionary& GetEntries() { return entries_; }
    const SV::SVDictionary& GetEntries() const { return entries_; }

private:
    SV::SVDictionary entries_;
};

}  // namespace SarvelonMediaKit

#endif
