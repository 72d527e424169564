#include "SVLibrary/Output/LineWriter.h"

#include <mutex>

namespace SV {

namespace {

std::mutex& WriterMutex() {
    // Never destroyed: a thread may still write a line while statics are torn down at exit.
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

FILE* gStream = nullptr;

}  // namespace

void SetLineWriterStream(FILE* stream) {
    std::lock_guard<std::mutex> lock(WriterMutex());
    gStream = stream;
}

void SetLineWriterStream(FILE* stream, const std::function<void(FILE* previous)>& work) {
    std::lock_guard<std::mutex> lock(WriterMutex());
    FILE* previous = gStream;
    gStream = stream;
    if (work) work(previous);
}

void WriteLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(WriterMutex());
    FILE* out = gStream ? gStream : stdout;
    fwrite(text.data(), 1, text.size(), out);
    fputc('\n', out);
    fflush(out);
}

}  // namespace SV
