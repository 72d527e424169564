#include "engine/core/BandwidthInfoSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/core/DefaultBandwidth.h"

namespace SarvelonMediaKit {
namespace {

class Probe : public BandwidthInfoMonitor {
public:
    ~Probe() override { DetachFromSources(); }
    void BandwidthUpdate(ByteAmount bandwidth, bool measured) override {
        values.push_back(bandwidth.Get());
        EXPECT_TRUE(measured);
    }
    std::vector<uint32_t> values;
};

struct Step {
    enum Kind { Start, Data, Publish } kind;
    uint64_t time;    // event time, or the clock reading for Publish
    uint32_t amount;  // bytes to skip (Start) or bytes received (Data)
};

struct Case {
    const char* name;
    uint64_t constructed;  // clock reading when the source is made (its first report time)
    std::vector<Step> steps;
    std::vector<uint32_t> published;
};

std::vector<uint32_t> RunSteps(const Case& c) {
    std::atomic<uint64_t> now(c.constructed);
    BandwidthInfoSource source([&] { return SV::PilTime(now.load()); });
    Probe probe;
    source.AddMonitor(&probe);
    for (const Step& s : c.steps) {
        switch (s.kind) {
            case Step::Start: source.RecordStart(SV::PilTime(s.time), s.amount); break;
            case Step::Data: source.RecordData(SV::PilTime(s.time), s.amount); break;
            case Step::Publish:
                now = s.time;
                source.Publish();
                break;
        }
    }
    if (!probe.values.empty()) {
        EXPECT_EQ(probe.values.back(), source.MeasuredBandwidth().Get()) << c.name;
        EXPECT_EQ(probe.values.back(), GetDefaultBandwidth().Get()) << c.name;
    }
    return probe.values;
}

TEST(BandwidthInfoSourceTest, PublishesTheRateOverTheTimeDataFlowed) {
    const Step::Kind S = Step::Start, D = Step::Data, P = Step::Publish;
    const Case cases[] = {
        {"900000 bytes within 300 ms publish at once (100 ms waiting for the first byte)",
         10000,
         {{S, 20000, 0}, {D, 20100, 300000}, {D, 20200, 300000}, {D, 20300, 300000}, {P, 20300, 0}},
         {900000u * 1000 / 200}},
        {"200000 bytes publish only once the span passes 500 ms",
         10000,
         {{D, 20000, 100000}, {D, 20300, 100000}, {P, 20300, 0}, {P, 20500, 0}, {P, 20501, 0}},
         {200000u * 1000 / 501}},
        {"a rate beyond 32 bits is published as 0xFFFFFFFF",
         10000,
         {{S, 20000, 0}, {D, 20299, 5000000}, {D, 20299, 5000000}, {P, 20300, 0}},
         {0xFFFFFFFFu}},
        {"no second report within 500 ms of the last",
         10000,
         {{D, 20000, 900000}, {P, 20600, 0}, {D, 20700, 100000}, {P, 21099, 0}, {P, 21100, 0}},
         {900000u * 1000 / 600, 1000000u * 1000 / 1100}},
        {"no report within 500 ms of construction",
         20000,
         {{D, 20000, 900000}, {P, 20300, 0}, {P, 20500, 0}},
         {900000u * 1000 / 500}},
        {"small times do not wrap the window's cut-off",
         0,
         {{S, 100, 0}, {D, 150, 900000}, {P, 600, 0}},
         {900000u * 1000 / 450}},
        {"skipped bytes are not counted and the first counted data closes the wait",
         10000,
         {{S, 20000, 1000}, {D, 20100, 600}, {D, 20150, 600}, {D, 20200, 900000}, {P, 20300, 0}},
         {900000u * 1000 / 100}},
        {"a second start in a row only resets the skip",
         10000,
         {{S, 20000, 5}, {S, 20050, 0}, {D, 20100, 900000}, {P, 20300, 0}},
         {900000u * 1000 / 200}},
        {"a data record of 0 bytes starts a request",
         10000,
         {{D, 20000, 0}, {D, 20100, 900000}, {P, 20300, 0}},
         {900000u * 1000 / 200}},
        {"data that arrives before its request started is dropped",
         10000,
         {{S, 20000, 0}, {D, 19990, 500000}, {D, 20100, 900000}, {P, 20300, 0}},
         {900000u * 1000 / 200}},
        {"a request still waiting counts as idle time",
         10000,
         {{D, 20000, 900000}, {S, 20100, 0}, {P, 20400, 0}},
         {900000u * 1000 / 100}},
        {"nothing while all of the span was idle",
         10000,
         {{S, 20000, 0}, {D, 20300, 900000}, {P, 20300, 0}},
         {}},
        {"data older than 5 seconds leaves the window",
         10000,
         {{D, 20000, 1000000}, {D, 26000, 900000}, {P, 26600, 0}},
         {900000u * 1000 / 600}},
        {"the window holds no more than 10 MiB",
         10000,
         {{D, 20000, 5000000}, {D, 20100, 5000000}, {D, 20200, 5000000}, {P, 20300, 0}},
         {10000000u / 200 * 1000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.published, RunSteps(c)) << c.name;
    }
}

TEST(BandwidthInfoSourceTest, NothingIsRecordedWithoutAMonitor) {
    std::atomic<uint64_t> now(10000);
    BandwidthInfoSource source([&] { return SV::PilTime(now.load()); });
    source.RecordStart(SV::PilTime(20000), 0);
    source.RecordData(SV::PilTime(20100), 900000);
    now = 20300;
    source.Publish();  // no monitor: nothing to do

    Probe probe;
    source.AddMonitor(&probe);
    source.Publish();
    EXPECT_TRUE(probe.values.empty());  // what came before the monitor was not kept
    source.RecordData(SV::PilTime(20300), 1000000);
    now = 20900;
    source.Publish();
    EXPECT_EQ(std::vector<uint32_t>{1000000u * 1000 / 600}, probe.values);
    EXPECT_EQ(0u, BandwidthInfoSource().MeasuredBandwidth());
}

TEST(BandwidthInfoSourceTest, NotifyReachesEveryMonitorAndTheDefault) {
    BandwidthInfoSource source;
    Probe a;
    Probe b;
    source.AddMonitor(&a);
    source.AddMonitor(&b);
    source.Notify(123456, true);
    EXPECT_EQ(std::vector<uint32_t>{123456}, a.values);
    EXPECT_EQ(std::vector<uint32_t>{123456}, b.values);
    EXPECT_EQ(123456u, GetDefaultBandwidth());
    SetDefaultBandwidth(0xFFFFFFFFu);
    EXPECT_EQ(0xFFFFFFFFu, GetDefaultBandwidth());
}

}  // namespace
}  // namespace SarvelonMediaKit
