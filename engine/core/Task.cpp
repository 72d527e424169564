#include "engine/core/Task.h"

#include "engine/core/MemoryChunk.h"

namespace SarvelonMediaKit {

Task::Task(uint32_t category, StackId stackId, const std::string& name)
    : category_(category), stackId_(stackId), name_(name) {}

Task::~Task() {}

ByteAmount Task::PendingDataSize() const { return 0; }

std::string Task::GetName() const { return name_; }

uint32_t TaskArgumentDataSize(const MemoryChunk& chunk) { return chunk.Size(); }

}  // namespace SarvelonMediaKit
