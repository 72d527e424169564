#include "platform/ui/InterfaceBuilder.h"

namespace ui {
namespace {

std::map<std::string, InterfaceBuilder::Builder>& Builders() {
    static auto* builders = new std::map<std::string, InterfaceBuilder::Builder>();  // kept
    return *builders;
}

}  // namespace

void InterfaceBuilder::Register(const std::string& name, Builder builder) {
    if (!builder) {
        Unregister(name);
        return;
    }
    Builders()[name] = std::move(builder);
}

void InterfaceBuilder::Unregister(const std::string& name) { Builders().erase(name); }

InterfaceBuilder::Builder InterfaceBuilder::Find(const std::string& name) {
    auto it = Builders().find(name);
    return it == Builders().end() ? nullptr : it->second;
}

}  // namespace ui
