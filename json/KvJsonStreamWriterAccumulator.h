#pragma once
// Stream-writer delegate that collects every byte written.

#include <string>

#include "json/KvJsonStreamWriter.h"

class KvJsonStreamWriterAccumulator : public KvJsonStreamWriterDelegate {
public:
    KvJsonStreamWriterAccumulator() { _data.reserve(8096); }

    void writerAppendBytes(KvJsonStreamWriter&, const char* bytes, size_t length) override {
        _data.append(bytes, length);
    }

    const std::string& data() const { return _data; }
    std::string takeData() { return std::move(_data); }

private:
    std::string _data;
};
