#include "engine/api/SViOsApiState.h"

#include <boost/make_shared.hpp>

namespace SarvelonMediaKit {

SViOsApiState& SViOsApiState::Instance() {
    static SViOsApiState* state = new SViOsApiState();
    return *state;
}

boost::shared_ptr<SVMKCredentials> SViOsApiState::GetCredentials() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return credentials_;
}

boost::shared_ptr<SVMKCredentials> SViOsApiState::EnsureCredentials() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!credentials_) credentials_ = boost::make_shared<SVMKCredentials>(SV::SVDictionary());
    return credentials_;
}

std::optional<std::string> SViOsApiState::GetCurrentAsset() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentAsset_;
}

void SViOsApiState::SetCurrentAsset(const std::string& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    currentAsset_ = url;
}

void SViOsApiState::ClearCurrentAsset() {
    std::lock_guard<std::mutex> lock(mutex_);
    currentAsset_.reset();
}

SVMediaTransformerSession* SViOsApiState::GetSession() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return session_;
}

void SViOsApiState::SetSession(SVMediaTransformerSession* session) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session_ = session;
    }
    sessionChanged_.notify_all();
}

void SViOsApiState::ClearSession(SVMediaTransformerSession* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_ == session) session_ = nullptr;
}

void SViOsApiState::BeginStart() {
    std::lock_guard<std::mutex> lock(mutex_);
    starting_ = true;
}

void SViOsApiState::EndStart() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        starting_ = false;
    }
    sessionChanged_.notify_all();
}

SVMediaTransformerSession* SViOsApiState::AwaitSession() const {
    std::unique_lock<std::mutex> lock(mutex_);
    sessionChanged_.wait(lock, [this] { return session_ != nullptr || !starting_; });
    return session_;
}

void SViOsApiState::ResetForTesting() {
    initialized_.store(false);
    std::lock_guard<std::mutex> lock(mutex_);
    credentials_.reset();
    currentAsset_.reset();
    session_ = nullptr;
    starting_ = false;
}

}  // namespace SarvelonMediaKit

// Readers of the current asset, used by the events as well as the entry points.

ns::Dictionary SV_AssetDescriptor() {
    ns::Dictionary descriptor;
    const std::optional<std::string> asset =
        SarvelonMediaKit::SViOsApiState::Instance().GetCurrentAsset();
    if (!asset) return descriptor;
    descriptor.Set("SVAssetPathKey", ns::Value(*asset));
    descriptor.Set("SVAssetTypeKey", ns::Value(SV_GetAssetType(*asset)));
    return descriptor;
}

unsigned long SV_GetAssetType(const std::string& path) {
    if (path.compare(0, 7, "http://") == 0 || path.compare(0, 8, "https://") == 0) return 2;
    return 1;
}
