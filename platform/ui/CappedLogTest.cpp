// The process-wide logs that tests and the inspector read keep only their latest entries: a
// session that shows alerts, runs animations and evaluates scripts for hours stays bounded.

#include <gtest/gtest.h>

#include <string>

#include "platform/ui/AlertLog.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/WebViewScriptLog.h"

namespace {

using ui::AlertLog;
using ui::AnimationLog;
using ui::WebViewScriptLog;

// Each log's entries told apart by one text field.
ui::AlertLogEntry Numbered(AlertLog*, size_t i) {
    ui::AlertLogEntry entry;
    entry.title = std::to_string(i);
    return entry;
}
std::string NumberOf(const ui::AlertLogEntry& entry) { return entry.title; }

ui::AnimationLogEntry Numbered(AnimationLog*, size_t i) {
    ui::AnimationLogEntry entry;
    entry.key = std::to_string(i);
    return entry;
}
std::string NumberOf(const ui::AnimationLogEntry& entry) { return entry.key; }

ui::WebViewScriptLogEntry Numbered(WebViewScriptLog*, size_t i) { return {"w", std::to_string(i)}; }
std::string NumberOf(const ui::WebViewScriptLogEntry& entry) { return entry.script; }

template <typename Log>
class CappedLogTest : public ::testing::Test {};
using Logs = ::testing::Types<AlertLog, AnimationLog, WebViewScriptLog>;
TYPED_TEST_SUITE(CappedLogTest, Logs);

TYPED_TEST(CappedLogTest, KeepsTheLatestEntriesInOrder) {
    TypeParam::Clear();
    const size_t cap = TypeParam::kMaxEntries;
    for (size_t i = 0; i < cap + 5; ++i) {
        TypeParam::Append(Numbered(static_cast<TypeParam*>(nullptr), i));
    }
    const auto& entries = TypeParam::Entries();
    ASSERT_EQ(entries.size(), cap);
    EXPECT_EQ(NumberOf(entries.front()), "5");  // the five oldest went first
    EXPECT_EQ(NumberOf(entries[1]), "6");
    EXPECT_EQ(NumberOf(entries.back()), std::to_string(cap + 4));
    TypeParam::Clear();
    EXPECT_TRUE(entries.empty());
}

}  // namespace
