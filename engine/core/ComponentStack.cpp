#include "engine/core/ComponentStack.h"

#include <algorithm>
#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/Saturating.h"
#include "engine/core/Component.h"

namespace SarvelonMediaKit {

ComponentStack::ComponentStack(StackId stackId) : stackId_(stackId) {}

bool ComponentStack::Contains(const boost::shared_ptr<Component>& component) const {
    return std::find(components_.begin(), components_.end(), component) != components_.end();
}

void ComponentStack::AddComponent(const boost::shared_ptr<Component>& component) {
    if (!component || Contains(component)) {
        DebugPrint("ComponentStack::AddComponent: ERROR: component missing or already added\n");
        return;
    }
    component->SetStackId(stackId_);
    if (!components_.empty()) {
        const boost::shared_ptr<Component>& last = components_.back();
        last->SetSource(component);
        component->SetConsumer(last);
    }
    components_.push_back(component);
}

void ComponentStack::InsertComponent(const boost::shared_ptr<Component>& component,
                                     const boost::shared_ptr<Component>& insertionPoint) {
    if (!insertionPoint) {
        AddComponent(component);
        return;
    }
    std::list<boost::shared_ptr<Component>>::iterator at =
        std::find(components_.begin(), components_.end(), insertionPoint);
    if (at == components_.end()) {
        DebugPrint("ComponentStack::InsertComponent: ERROR: insertion point not found!\n");
        return;
    }
    if (!component || Contains(component)) {
        DebugPrint("ComponentStack::InsertComponent: ERROR: component missing or already added\n");
        return;
    }
    boost::shared_ptr<Component> consumer = insertionPoint->GetConsumer();
    insertionPoint->SetConsumer(component);
    component->SetSource(insertionPoint);
    if (!consumer) {
        components_.push_front(component);
        return;
    }
    component->SetConsumer(consumer);
    consumer->SetSource(component);
    components_.insert(at, component);
}

void ComponentStack::Link() {
    uint32_t headroom = 0;
    uint32_t tailroom = 0;
    for (const boost::shared_ptr<Component>& component : components_) {
        headroom = SV::SaturatingAdd<uint32_t>(headroom, component->GetHeadroom());
        component->SetHeadroom(headroom);
        tailroom = SV::SaturatingAdd<uint32_t>(tailroom, component->GetTailroom());
        component->SetTailroom(tailroom);
    }
    for (const boost::shared_ptr<Component>& component : components_) {
        component->NotifyLinked();
    }
}

void ComponentStack::LinkToConsumer(const boost::shared_ptr<Component>& component,
                                    const boost::shared_ptr<Component>& consumer) {
    if (component) {
        component->SetConsumer(consumer);
    }
}

boost::shared_ptr<Component> ComponentStack::Front() const {
    return components_.empty() ? boost::shared_ptr<Component>() : components_.front();
}

}  // namespace SarvelonMediaKit
