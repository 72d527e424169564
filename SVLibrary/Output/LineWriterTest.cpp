#include "SVLibrary/Output/LineWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

std::string ContentOf(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    return text;
}

TEST(LineWriter, SwitchingWithWorkHandsOverThePreviousStreamAndKeepsTheOrder) {
    FILE* first = std::tmpfile();
    FILE* second = std::tmpfile();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    SV::SetLineWriterStream(first);
    SV::WriteLine("held");

    FILE* handed = nullptr;
    SV::SetLineWriterStream(second, [&](FILE* previous) {
        handed = previous;
        // What the work writes comes before any line written after the switch.
        std::fputs("from work\n", second);
    });
    SV::WriteLine("after");
    std::thread other([] { SV::WriteLine("other thread"); });
    other.join();

    EXPECT_EQ(handed, first);
    EXPECT_EQ(ContentOf(first), "held\n");
    EXPECT_EQ(ContentOf(second), "from work\nafter\nother thread\n");

    // Back to standard output: the work sees the stream it replaces, then nothing goes there.
    handed = nullptr;
    SV::SetLineWriterStream(nullptr, [&](FILE* previous) { handed = previous; });
    EXPECT_EQ(handed, second);
    SV::SetLineWriterStream(nullptr, std::function<void(FILE*)>());
    std::fclose(first);
    std::fclose(second);
}

}  // namespace
