#ifndef PLATFORM_UI_INTERFACE_BUILDER_H
#define PLATFORM_UI_INTERFACE_BUILDER_H
// Interface files as code: a builder function registered under the interface file's name
// ("LoginViewController~iPhone", "Qplayer") makes the view tree of a controller's screen. The
// controller (ViewController::LoadView) runs it when its view is first asked for and then fills
// its outlets from the tree: a view outlet from the view whose Identifier() is the outlet's
// name, an outlet for something that is not a view (a navigation item, a bar button item) from
// the objects the builder added to its context under that name.
//
// The builder gets the controller that owns the file, to connect actions to it. A builder
// should not keep a strong reference to the controller in the views it makes (the controller
// owns its view; the pair would never be freed). Main thread only.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ui {

class View;
class ViewController;

class InterfaceBuilder {
public:
    // What a builder is given: the file's owner and a place for objects that are not views.
    class Context {
    public:
        explicit Context(ViewController& owner) : owner_(owner) {}
        ViewController& Owner() const { return owner_; }
        // An object an outlet of exactly the type std::shared_ptr<T> can be bound to. A second
        // object under the same name replaces the first.
        template <typename T>
        void AddObject(const std::string& identifier, std::shared_ptr<T> object) {
            objects_[identifier] = std::move(object);
        }
        // Null when there is none.
        const std::any* FindObject(const std::string& identifier) const {
            auto it = objects_.find(identifier);
            return it == objects_.end() ? nullptr : &it->second;
        }

    private:
        ViewController& owner_;
        std::map<std::string, std::any> objects_;
    };

    // Returns the root of the tree (null counts as a failed build).
    using Builder = std::function<std::shared_ptr<View>(Context& context)>;

    // Registers (or replaces) the builder of an interface file.
    static void Register(const std::string& name, Builder builder);
    static void Unregister(const std::string& name);
    // Null when none is registered under the name.
    static Builder Find(const std::string& name);
};

}  // namespace ui

#endif  // PLATFORM_UI_INTERFACE_BUILDER_H
