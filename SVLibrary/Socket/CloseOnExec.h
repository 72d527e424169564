#ifndef SVLIBRARY_SOCKET_CLOSEONEXEC_H
#define SVLIBRARY_SOCKET_CLOSEONEXEC_H

// Every descriptor this code opens is close-on-exec: the application starts programs (a web
// view's processes) that would otherwise keep them, the engine's listening port among them, and
// hold the port after the engine closed it. A system call that takes a flag for it gets it where
// it is made; this is for a library call that makes descriptors without it and does not hand
// them out.

#include <vector>

namespace SV {

// The numbers of this process's descriptors above standard error, in order.
std::vector<int> OpenDescriptorNumbers();

// Marks close-on-exec every descriptor above standard error that is open now and was not in
// `before` (OpenDescriptorNumbers taken just before the call that opened them). Another thread's
// descriptor opened meanwhile is close-on-exec already, so marking it changes nothing.
void MarkOpenedSinceCloseOnExec(const std::vector<int>& before);

}  // namespace SV

#endif
