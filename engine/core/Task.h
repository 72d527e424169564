#ifndef ENGINE_CORE_TASK_H
#define ENGINE_CORE_TASK_H

#include <cstdint>
#include <string>
#include <type_traits>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"

namespace SarvelonMediaKit {

class MemoryChunk;

// A named unit of work queued on a TaskManager and run on its thread. The category bits and
// the stack id let a poster remove its own queued tasks again (TaskManager::RemoveTasks).
class Task {
public:
    Task(uint32_t category, StackId stackId, const std::string& name);
    virtual ~Task();

    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Does the work; true asks to be queued again (behind whatever was posted meanwhile).
    virtual bool Execute() = 0;
    // The bytes of media data the task carries; tasks that carry data are dropped unrun while
    // the manager drops data tasks (during a seek).
    virtual ByteAmount PendingDataSize() const;
    virtual std::string GetName() const;

    uint32_t GetCategory() const { return category_; }
    StackId GetStackId() const { return stackId_; }

private:
    uint32_t category_;
    StackId stackId_;
    std::string name_;
};

// How many bytes of media data a bound argument carries: a MemoryChunk its size, anything
// else nothing. The chunk overload is a plain function so an exact MemoryChunk argument
// prefers it to the template.
template <typename T>
uint32_t TaskArgumentDataSize(const T&) {
    return 0;
}
uint32_t TaskArgumentDataSize(const MemoryChunk& chunk);

// The task templates bind an object (a plain or a shared pointer), one of its member functions
// and copies of its arguments. Execute calls the member with the stored copies and returns
// false, so a template task runs once. The argument types name what is stored; a member that
// takes `const std::string&` is bound with the argument type std::string.
template <typename ObjectPtr, typename Member>
class TaskTemplate0 : public Task {
public:
    TaskTemplate0(uint32_t category, StackId stackId, const std::string& name, ObjectPtr object,
                  Member member)
        : Task(category, stackId, name), object_(object), member_(member) {}

    bool Execute() override {
        ((*object_).*member_)();
        return false;
    }

private:
    ObjectPtr object_;
    Member member_;
};

template <typename ObjectPtr, typename Member, typename A>
class TaskTemplate1 : public Task {
public:
    typedef typename std::decay<A>::type Stored1;

    TaskTemplate1(uint32_t category, StackId stackId, const std::string& name, ObjectPtr object,
                  Member member, const Stored1& a)
        : Task(category, stackId, name), object_(object), member_(member), a_(a) {}

    bool Execute() override {
        ((*object_).*member_)(a_);
        return false;
    }

    ByteAmount PendingDataSize() const override { return TaskArgumentDataSize(a_); }

private:
    ObjectPtr object_;
    Member member_;
    Stored1 a_;
};

template <typename ObjectPtr, typename Member, typename A, typename B>
class TaskTemplate2 : public Task {
public:
    typedef typename std::decay<A>::type Stored1;
    typedef typename std::decay<B>::type Stored2;

    TaskTemplate2(uint32_t category, StackId stackId, const std::string& name, ObjectPtr object,
                  Member member, const Stored1& a, const Stored2& b)
        : Task(category, stackId, name), object_(object), member_(member), a_(a), b_(b) {}

    bool Execute() override {
        ((*object_).*member_)(a_, b_);
        return false;
    }

    ByteAmount PendingDataSize() const override {
        return TaskArgumentDataSize(a_) + TaskArgumentDataSize(b_);
    }

private:
    ObjectPtr object_;
    Member member_;
    Stored1 a_;
    Stored2 b_;
};

template <typename ObjectPtr, typename Member, typename A, typename B, typename C, typename D>
class TaskTemplate4 : public Task {
public:
    typedef typename std::decay<A>::type Stored1;
    typedef typename std::decay<B>::type Stored2;
    typedef typename std::decay<C>::type Stored3;
    typedef typename std::decay<D>::type Stored4;

    TaskTemplate4(uint32_t category, StackId stackId, const std::string& name, ObjectPtr object,
                  Member member, const Stored1& a, const Stored2& b, const Stored3& c,
                  const Stored4& d)
        : Task(category, stackId, name),
          object_(object),
          member_(member),
          a_(a),
          b_(b),
          c_(c),
          d_(d) {}

    bool Execute() override {
        ((*object_).*member_)(a_, b_, c_, d_);
        return false;
    }

    ByteAmount PendingDataSize() const override {
        return TaskArgumentDataSize(a_) + TaskArgumentDataSize(b_) + TaskArgumentDataSize(c_) +
               TaskArgumentDataSize(d_);
    }

private:
    ObjectPtr object_;
    Member member_;
    Stored1 a_;
    Stored2 b_;
    Stored3 c_;
    Stored4 d_;
};

}  // namespace SarvelonMediaKit

#endif
