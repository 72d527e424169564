#include "SVLibrary/PilThread/ProcessState.h"

namespace SV {

namespace {

// Constant-initialised and trivially destructible: safe to use before main and during exit.
std::atomic<bool> gTerminating{false};
std::atomic<bool> gDownloadStop{false};
std::atomic<int32_t> gActiveThreads{0};

}  // namespace

std::atomic<bool>* GetTerminateFlag() { return &gTerminating; }

std::atomic<bool>* GetDownloadStopFlag() { return &gDownloadStop; }

void IncrementActiveThreadCount() { gActiveThreads.fetch_add(1); }

void DecrementActiveThreadCount() { gActiveThreads.fetch_sub(1); }

std::atomic<int32_t>* GetActiveThreadCount() { return &gActiveThreads; }

}  // namespace SV
