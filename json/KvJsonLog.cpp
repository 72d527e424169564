#include "json/KvJsonLog.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<KvJsonLogHandler> gHandler{nullptr};

}  // namespace

void KvJsonSetLogHandler(KvJsonLogHandler handler) { gHandler.store(handler); }

void KvJsonLog(const std::string& line) {
    if (const KvJsonLogHandler handler = gHandler.load()) {
        handler(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}
