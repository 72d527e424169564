#include <gtest/gtest.h>

#include "SVLibrary/PilThread/Semaphore.h"

namespace {

TEST(Semaphore, TryAcquireTakesOnlyWhatIsThere) {
    SV::Semaphore one(1);
    EXPECT_TRUE(one.TryAcquire());
    EXPECT_FALSE(one.TryAcquire());

    SV::Semaphore none(0);
    EXPECT_FALSE(none.TryAcquire());

    SV::Semaphore two(2);
    EXPECT_TRUE(two.TryAcquire());
    EXPECT_TRUE(two.TryAcquire());
    EXPECT_FALSE(two.TryAcquire());
}

TEST(Semaphore, ManyMadeAtOnceNeverCollide) {
    // Made back to back, within the same clock tick: each one is its own semaphore.
    for (int i = 0; i < 200; ++i) {
        SV::Semaphore a(1);
        SV::Semaphore b(0);
        EXPECT_FALSE(b.TryAcquire());
        EXPECT_TRUE(a.TryAcquire());
    }
}

}  // namespace
