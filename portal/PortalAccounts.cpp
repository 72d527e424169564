#include "portal/PortalAccounts.h"

#include <algorithm>
#include <cstdio>

#include "json/KvJsonParser.h"

namespace ZulPortal {

namespace {

// A device identifier longer than this is not registered: a slot list stays small.
constexpr size_t kMaxDeviceLength = 128;
constexpr size_t kMaxConfigSize = 1024 * 1024;

}  // namespace

PortalAccounts::PortalAccounts() {
    // One account per sign-in answer, so that each can be tried without a configuration file.
    accounts_ = {
        {"demo@zul.test", "demo", 3, {}, Behaviour::Normal},
        // Its one slot is taken by another device.
        {"full@zul.test", "full", 1, {"00000000-0000-0000-0000-000000000001"}, Behaviour::Normal},
        {"maintenance@zul.test", "maintenance", 3, {}, Behaviour::Maintenance},
        {"nostatus@zul.test", "nostatus", 3, {}, Behaviour::NoStatusHeader},
        {"emptyslots@zul.test", "emptyslots", 3, {}, Behaviour::EmptyFreeSlots},
    };
}

bool PortalAccounts::Load(const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
        if (text.size() > kMaxConfigSize) {
            std::fclose(file);
            error = path + ": larger than " + std::to_string(kMaxConfigSize) + " bytes";
            return false;
        }
    }
    std::fclose(file);
    if (!LoadText(text, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool PortalAccounts::LoadText(const std::string& json, std::string& error) {
    KvJsonParser parser;
    const std::optional<ns::Value> root = parser.objectWithString(json);
    if (!root || !root->IsDictionary()) {
        error = root ? "not a JSON object" : "not JSON: " + parser.error();
        return false;
    }
    const ns::Value& list = (*root)["accounts"];
    if (!list.IsArray() || list.AsArray()->empty()) {
        error = "\"accounts\" is not a list of accounts";
        return false;
    }
    std::vector<Account> accounts;
    for (const ns::Value& item : *list.AsArray()) {
        Account account;
        if (!item["login"].IsString() || !item["password"].IsString()) {
            error = "an account lacks \"login\" or \"password\"";
            return false;
        }
        account.login = item["login"].StringValue();
        account.password = item["password"].StringValue();
        if (item.Find("slots") != nullptr) {
            const int64_t slots = item["slots"].Int64Value();
            if (!item["slots"].IsNumber() || slots < 0 || slots > 100) {
                error = "account " + account.login + ": \"slots\" is not a number from 0 to 100";
                return false;
            }
            account.slots = static_cast<int>(slots);
        }
        for (const ns::Value& device :
             item["devices"].IsArray() ? *item["devices"].AsArray() : ns::Array()) {
            if (device.IsString()) account.devices.push_back(device.StringValue());
        }
        const std::string behaviour =
            item["behaviour"].IsString() ? item["behaviour"].StringValue() : "normal";
        if (behaviour == "normal") {
            account.behaviour = Behaviour::Normal;
        } else if (behaviour == "maintenance") {
            account.behaviour = Behaviour::Maintenance;
        } else if (behaviour == "noStatusHeader") {
            account.behaviour = Behaviour::NoStatusHeader;
        } else if (behaviour == "emptyFreeSlots") {
            account.behaviour = Behaviour::EmptyFreeSlots;
        } else {
            error = "account " + account.login + ": unknown \"behaviour\" " + behaviour;
            return false;
        }
        accounts.push_back(account);
    }
    const ns::Value& basic = (*root)["basicAuth"];
    std::lock_guard<std::mutex> lock(mutex_);
    accounts_ = accounts;
    basicUser_ = basic["user"].IsString() ? basic["user"].StringValue() : "";
    basicPassword_ = basic["password"].IsString() ? basic["password"].StringValue() : "";
    return true;
}

std::string PortalAccounts::BasicUser() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return basicUser_;
}

std::string PortalAccounts::BasicPassword() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return basicPassword_;
}

PortalAccounts::Outcome PortalAccounts::SignIn(const std::string& login,
                                               const std::string& password,
                                               const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    Outcome outcome;
    Account* account = nullptr;
    for (Account& candidate : accounts_) {
        if (candidate.login == login && candidate.password == password) account = &candidate;
    }
    if (account == nullptr) {
        outcome.code = kCodeBadCredentials;
        outcome.freeSlots = "0";
        outcome.maxSlots = "0";
        return outcome;
    }
    const int used = static_cast<int>(account->devices.size());
    outcome.maxSlots = std::to_string(account->slots);
    outcome.freeSlots = std::to_string(std::max(0, account->slots - used));
    if (account->behaviour == Behaviour::Maintenance) {
        outcome.unavailable = true;
        outcome.code = kCodeUnavailable;
        return outcome;
    }
    if (device.empty() || device.size() > kMaxDeviceLength) {
        outcome.code = kCodeNoDevice;
        return outcome;
    }
    const bool known = std::find(account->devices.begin(), account->devices.end(), device) !=
                       account->devices.end();
    if (!known && used >= account->slots) {
        outcome.code = kCodeDeviceAdded;  // with status 1: no free slot
        outcome.freeSlots = "0";
        return outcome;
    }
    if (!known) account->devices.push_back(device);
    outcome.signedIn = true;
    outcome.status = 0;
    outcome.code = known ? kCodeSignedIn : kCodeDeviceAdded;
    outcome.freeSlots =
        std::to_string(std::max(0, account->slots - static_cast<int>(account->devices.size())));
    if (account->behaviour == Behaviour::NoStatusHeader) outcome.sendStatus = false;
    if (account->behaviour == Behaviour::EmptyFreeSlots) outcome.freeSlots = "";
    return outcome;
}

}  // namespace ZulPortal
