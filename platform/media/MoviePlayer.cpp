#include "platform/media/MoviePlayer.h"

#include <mutex>
#include <utility>

namespace ns {
namespace {

std::mutex g_factoryMutex;
// Never destroyed: no work under a dying static.
MoviePlayer::Factory* g_factory = nullptr;
MoviePlayer::Factory* g_defaultFactory = nullptr;

void Store(MoviePlayer::Factory*& slot, MoviePlayer::Factory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    if (slot == nullptr) slot = new MoviePlayer::Factory();
    *slot = std::move(factory);
}

}  // namespace

void MoviePlayer::SetFactory(Factory factory) { Store(g_factory, std::move(factory)); }

void MoviePlayer::SetDefaultFactory(Factory factory) {
    Store(g_defaultFactory, std::move(factory));
}

std::unique_ptr<MoviePlayer> MoviePlayer::Create() {
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        if (g_factory != nullptr && *g_factory) {
            factory = *g_factory;
        } else if (g_defaultFactory != nullptr) {
            factory = *g_defaultFactory;
        }
    }
    return factory ? factory() : nullptr;
}

Value MoviePlayer::ErrorToValue(const Error& error) {
    Dictionary d;
    d.Set("domain", error.Domain());
    d.Set("code", static_cast<long long>(error.GetCode()));
    d.Set("description", error.LocalizedDescription());
    d.Set("url", error.FailingURL());
    return Value(std::move(d));
}

Error MoviePlayer::ErrorFromValue(const Value& value) {
    if (!value.IsDictionary()) {
        return Error();
    }
    return Error(value["domain"].StringValue(), static_cast<long>(value["code"].Int64Value()),
                 value["description"].StringValue(), value["url"].StringValue());
}

}  // namespace ns
