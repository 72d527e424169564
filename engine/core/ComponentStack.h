#ifndef ENGINE_CORE_COMPONENTSTACK_H
#define ENGINE_CORE_COMPONENTSTACK_H

#include <boost/shared_ptr.hpp>

#include <list>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class Component;

// The ordered chain of one session (or one branch of a multiplexer), output end first: each
// element is the source of the one before it. The stack owns its components, numbers them and
// wires their links; Link hands each the room that it and the stages toward the output need.
// A value type: a copy shares the components.
class ComponentStack {
public:
    explicit ComponentStack(StackId stackId = StackIdServing);

    // Appends the component as the new input end and gives it the stack id. An empty pointer
    // or a component already in the stack is refused (it would link the chain into a loop).
    void AddComponent(const boost::shared_ptr<Component>& component);
    // Puts the component on the consumer side of the insertion point, between it and its
    // former consumer; an empty insertion point appends. The stack id is left to the caller.
    // An insertion point not in the stack, or a component already in it, changes nothing.
    void InsertComponent(const boost::shared_ptr<Component>& component,
                         const boost::shared_ptr<Component>& insertionPoint);
    // Running headroom and tailroom sums from the output end to the input end, then the
    // linking notice for every component.
    void Link();
    // Makes consumer the consumer of component (a branch's output end feeding a multiplexer).
    static void LinkToConsumer(const boost::shared_ptr<Component>& component,
                               const boost::shared_ptr<Component>& consumer);

    // The output end; empty for an empty stack.
    boost::shared_ptr<Component> Front() const;
    bool IsEmpty() const { return components_.empty(); }
    StackId GetStackId() const { return stackId_; }
    const std::list<boost::shared_ptr<Component>>& GetComponents() const { return components_; }

private:
    bool Contains(const boost::shared_ptr<Component>& component) const;

    StackId stackId_;
    std::list<boost::shared_ptr<Component>> components_;
};

}  // namespace SarvelonMediaKit

#endif
