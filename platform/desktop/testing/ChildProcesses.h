#ifndef PLATFORM_DESKTOP_TESTING_CHILD_PROCESSES_H
#define PLATFORM_DESKTOP_TESTING_CHILD_PROCESSES_H
// The processes this one started, by name, as WebKit's helpers show up under it.

#include <sys/types.h>

#include <string>
#include <vector>

namespace ns::desktop {

// The live processes this one started whose name begins with `name` (the kernel keeps 15
// bytes).
std::vector<pid_t> ChildPidsNamed(const std::string& name);
int ChildrenNamed(const std::string& name);

}  // namespace ns::desktop

#endif
