#ifndef TESTS_SUPPORT_CHAINBUILDER_H
#define TESTS_SUPPORT_CHAINBUILDER_H

// Header-only: builds the component chain a test runs, in one call instead of one AddComponent
// per stage. Uses nothing above engine/core, so the core's own tests can take it.
//
//     ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
//
// The components are named output end first: each becomes the source of the one before it.

#include <boost/shared_ptr.hpp>

#include <initializer_list>

#include "engine/core/Component.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"

namespace SvTestSupport {

using ChainComponents = std::initializer_list<boost::shared_ptr<SarvelonMediaKit::Component>>;

// The components as one stack, not yet linked (a test that adds side branches or inspects the
// stack before linking links it itself).
inline SarvelonMediaKit::ComponentStack BuildChain(SarvelonMediaKit::StackId id,
                                                   ChainComponents components) {
    SarvelonMediaKit::ComponentStack stack(id);
    for (const boost::shared_ptr<SarvelonMediaKit::Component>& component : components) {
        stack.AddComponent(component);
    }
    return stack;
}

// The stack, linked: every stage knows its source and consumer and has its head- and tailroom.
inline SarvelonMediaKit::ComponentStack BuildLinkedChain(SarvelonMediaKit::StackId id,
                                                         ChainComponents components) {
    SarvelonMediaKit::ComponentStack stack = BuildChain(id, components);
    stack.Link();
    return stack;
}

// The stack, not yet linked, given to the session as its chain (Start links it).
inline void RunChainOn(SarvelonMediaKit::Session& session, SarvelonMediaKit::StackId id,
                       ChainComponents components) {
    session.SetComponentStack(BuildChain(id, components));
}

}  // namespace SvTestSupport

#endif
