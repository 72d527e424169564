#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "SVLibrary/Exception/Exception.h"
#include "SVLibrary/Time/PilTime.h"

namespace {

std::string TextOf(uint8_t code) { return SV::SVLibraryException(code).what(); }

TEST(ExceptionTable, LooksUpTextsByCodeNotByPosition) {
    EXPECT_EQ(TextOf(0x00), "SVL_Internal: Out of memory");
    // 0x04's row is stored after 0x05's; the scan must still find it.
    EXPECT_EQ(TextOf(0x04), "SVL_Internal: Thread Start error");
    EXPECT_EQ(TextOf(0x05), "SVL_Internal: Thread terminate error");
    // 0x24 is stored between 0x30 and 0x31.
    EXPECT_EQ(TextOf(0x24), "SVL_Internal: Could not get entropy");
    EXPECT_EQ(TextOf(0x1d), "SVL_Internal: Unbalanced mutex lock/unlock");
    EXPECT_EQ(TextOf(0x2a), "SVL_Internal: Could not open port error");
    EXPECT_EQ(TextOf(0x35), "SVL_Internal: PilTime calculation underflowed");
}

TEST(ExceptionTable, SharedTextsAndSeverities) {
    EXPECT_EQ(TextOf(0x03), TextOf(0x09));
    EXPECT_EQ(TextOf(0x0d), TextOf(0x11));
    EXPECT_EQ(TextOf(0x0f), TextOf(0x12));
    EXPECT_EQ(SV::SVLibraryException(0x2a).GetSeverity(), 1);
    EXPECT_EQ(SV::SVLibraryException(0x31).GetSeverity(), 0);
    EXPECT_EQ(SV::SVLibraryException(0x34).GetSeverity(), 3);
}

TEST(ExceptionTable, EveryCodeUpTo0x35HasItsOwnRow) {
    for (int code = 0; code <= 0x35; ++code) {
        SV::SVLibraryException e(static_cast<uint8_t>(code));
        EXPECT_EQ(e.GetEntry()->code, code) << code;
        EXPECT_EQ(std::string(e.what()).rfind("SVL_Internal: ", 0), 0u) << code;
    }
}

TEST(ExceptionTable, UnknownCodeGivesFallbackAndKeepsTheCode) {
    SV::SVLibraryException e(0x36);
    EXPECT_STREQ(e.what(), "SV::Exception:  Invalid exception");
    EXPECT_EQ(e.GetCode(), 0x36);
    EXPECT_EQ(e.GetSeverity(), 3);
    EXPECT_EQ(e.GetCategory(), 1);
    EXPECT_STREQ(SV::SVLibraryException(0xff).what(), "SV::Exception:  Invalid exception");
}

TEST(ExceptionTable, CaughtAsStdExceptionWithTheTableTextAndItsDetail) {
    try {
        throw SV::SVLibraryException(0x0c, "detail is not kept", 1, 2);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "SVL_Internal: Mutex creation error");
        EXPECT_STREQ(static_cast<const SV::Exception&>(e).GetDetail(), "detail is not kept");
    }
    // A long detail is cut, never overrun.
    const std::string longDetail(500, 'x');
    SV::SVLibraryException e(0x02, longDetail.c_str());
    EXPECT_EQ(std::string(e.GetDetail()), std::string(127, 'x'));
}

TEST(PilTime, OverflowAndUnderflowThrowAndKeepTheValue) {
    SV::PilTime max(UINT64_MAX);
    try {
        max += 1;
        FAIL() << "no throw";
    } catch (const SV::SVLibraryException& e) {
        EXPECT_EQ(e.GetCode(), 0x34);
    }
    EXPECT_EQ(max.Get(), UINT64_MAX);

    SV::PilTime zero(0);
    try {
        zero += -1;
        FAIL() << "no throw";
    } catch (const SV::SVLibraryException& e) {
        EXPECT_EQ(e.GetCode(), 0x35);
    }
    EXPECT_EQ(zero.Get(), 0u);
}

TEST(PilTime, CheckedAdditionInRange) {
    SV::PilTime t(1000);
    t += 0;
    EXPECT_EQ(t.Get(), 1000u);
    t += -1000;
    EXPECT_EQ(t.Get(), 0u);
    t += 250;
    EXPECT_EQ(t.Get(), 250u);
    SV::PilTime max(UINT64_MAX);
    max += 0;
    EXPECT_EQ(max.Get(), UINT64_MAX);
    // The difference reads as a signed count.
    EXPECT_EQ(SV::PilTime(100) - SV::PilTime(250), -150);
}

TEST(PilTime, NowIsWallClockMilliseconds) {
    SV::PilTime a;
    // 2020-01-01 in ms: any sane clock is past it, and a second reading never goes back.
    EXPECT_GT(a.Get(), 1577836800000ull);
    SV::PilTime b;
    EXPECT_LE(a, b);
}

}  // namespace
