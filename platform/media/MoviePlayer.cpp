#include "platform/media/MoviePlayer.h"

#include <mutex>
#include <utility>

#include "platform/media/HeadlessMoviePlayer.h"

namespace ns {
namespace {

std::mutex g_factoryMutex;
MoviePlayer::Factory* g_factory = nullptr;  // never destroyed: no work under a dying static

}  // namespace

void MoviePlayer::SetFactory(Factory factory) {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    if (g_factory == nullptr) {
        g_factory = new Factory();
    }
    *g_factory = std::move(factory);
}

std::unique_ptr<MoviePlayer> MoviePlayer::Create() {
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        if (g_factory != nullptr) {
            factory = *g_factory;
        }
    }
    if (factory) {
        return factory();
    }
    return std::make_unique<HeadlessMoviePlayer>();
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
