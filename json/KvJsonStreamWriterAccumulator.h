#ifndef JSON_KVJSONSTREAMWRITERACCUMULATOR_H
#define JSON_KVJSONSTREAMWRITERACCUMULATOR_H
// Stream-writer delegate that collects every byte written.

#include <string>

#include "json/KvJsonStreamWriter.h"

class KvJsonStreamWriterAccumulator : public KvJsonStreamWriterDelegate {
public:
    KvJsonStreamWriterAccumulator() { data_.reserve(8096); }

    void writerAppendBytes(KvJsonStreamWriter&, const char* bytes, size_t length) override {
        data_.append(bytes, length);
    }

    const std::string& data() const { return data_; }
    std::string takeData() { return std::move(data_); }

private:
    std::string data_;
};

#endif  // JSON_KVJSONSTREAMWRITERACCUMULATOR_H
