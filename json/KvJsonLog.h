#ifndef JSON_KVJSONLOG_H
#define JSON_KVJSONLOG_H
// The JSON library's log lines (the categories' failure texts). They go to standard error
// unless a handler is installed.

#include <string>

using KvJsonLogHandler = void (*)(const std::string& line);

// Installs `handler` for every later line; nullptr restores standard error.
void KvJsonSetLogHandler(KvJsonLogHandler handler);
void KvJsonLog(const std::string& line);

#endif  // JSON_KVJSONLOG_H
