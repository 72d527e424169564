#ifndef TESTS_SUPPORT_SCOPEDENVIRONMENT_H
#define TESTS_SUPPORT_SCOPEDENVIRONMENT_H

#include <cstdlib>
#include <optional>
#include <string>

namespace SvTestSupport {

// Sets (value not null) or clears an environment variable for the life of the object, then
// puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace SvTestSupport

#endif
