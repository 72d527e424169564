// Block and layer animations on a manual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Animate.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/Transition.h"
#include "platform/ui/View.h"

namespace {

using ui::AnimationLog;
using ui::BasicAnimation;
using ui::Rect;
using ui::Transform3D;
using ui::View;

class AnimationRecorder : public ui::AnimationDelegate {
public:
    struct Stop {
        std::string keyPath;
        bool finished;
    };
    std::vector<Stop> stops;
    void AnimationDidStop(const ui::Animation& a, bool finished) override {
        std::string path = a.GetKind() == ui::Animation::Kind::Basic
                               ? static_cast<const BasicAnimation&>(a).KeyPath()
                               : "transition";
        stops.push_back({path, finished});
    }
};

class AnimationTest : public ::testing::Test {
protected:
    void SetUp() override { AnimationLog::Clear(); }
    ui::TestLoop loop;
    std::shared_ptr<View> view = std::make_shared<View>(Rect(0, 0, 100, 100));
    std::shared_ptr<AnimationRecorder> recorder = std::make_shared<AnimationRecorder>();
};

TEST_F(AnimationTest, BlockSetsFinalValuesAtOnceAndCompletesAfterItsDuration) {
    view->SetIdentifier("contentView");
    std::vector<bool> done;
    ui::Animate(
        0.25, [&] { view->SetFrame(Rect(200, 0, 100, 100)); },
        [&](bool finished) { done.push_back(finished); });
    EXPECT_EQ(view->Frame(), Rect(200, 0, 100, 100));  // the final frame, straight away
    loop.Advance(0.249);
    EXPECT_TRUE(done.empty());
    loop.Advance(0.001);  // 0.25 s
    EXPECT_EQ(done, std::vector<bool>{true});
    loop.Advance(10);
    EXPECT_EQ(done.size(), 1u);

    ASSERT_EQ(AnimationLog::Entries().size(), 1u);
    const auto& e = AnimationLog::Entries()[0];
    EXPECT_EQ(e.kind, "block");
    EXPECT_DOUBLE_EQ(e.duration, 0.25);
    EXPECT_EQ(e.identifier, "contentView");
}

TEST_F(AnimationTest, BlockDelayAddsToItsDurationAndNestedBlocksKeepTheirOwnCompletion) {
    auto other = std::make_shared<View>(Rect(0, 0, 10, 10));
    other->SetIdentifier("menuTableView");
    view->SetIdentifier("contentView");
    std::vector<std::string> order;
    ui::Animate(
        0.25, 0.5, ui::AnimationOptions::CurveEaseOut | ui::AnimationOptions::AllowUserInteraction,
        [&] {
            view->SetAlpha(0);
            ui::Animate(
                0.1, [&] { other->SetAlpha(0); }, [&](bool) { order.push_back("inner"); });
        },
        [&](bool) { order.push_back("outer"); });
    loop.Advance(0.1);
    EXPECT_EQ(order, std::vector<std::string>{"inner"});
    loop.Advance(0.649);  // 0.749 s: delay 0.5 + duration 0.25 not yet over
    EXPECT_EQ(order.size(), 1u);
    loop.Advance(0.001);
    EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));

    // The inner block is logged first (its block ended first); the outer one lists both views.
    ASSERT_EQ(AnimationLog::Entries().size(), 2u);
    const auto& outer = AnimationLog::Entries()[1];
    EXPECT_DOUBLE_EQ(outer.delay, 0.5);
    EXPECT_EQ(outer.timing, "easeOut");
    EXPECT_TRUE(outer.options & ui::AnimationOptions::AllowUserInteraction);
    EXPECT_EQ(outer.identifiers, (std::vector<std::string>{"contentView", "menuTableView"}));
    EXPECT_EQ(AnimationLog::Entries()[0].identifiers, std::vector<std::string>{"menuTableView"});
}

TEST_F(AnimationTest, AutoreversingRepeatedAnimationFinishesAfterAllItsCycles) {
    // The sign-in shake: 0.15 s forward and 0.15 s back, twice: 2 x 2 x 0.15 = 0.6 s.
    BasicAnimation shake("transform");
    shake.SetToValue(Transform3D::MakeScale(1.05, 1.05, 1));
    shake.SetTimingFunction(ui::TimingFunction::EaseIn);
    shake.SetDuration(0.15);
    shake.SetAutoreverses(true);
    shake.SetRepeatCount(2);
    shake.SetDelegate(recorder);
    view->GetLayer().AddAnimation(shake, "shake");

    loop.Advance(0.59);
    EXPECT_TRUE(recorder->stops.empty());
    EXPECT_NE(view->GetLayer().AnimationForKey("shake"), nullptr);
    loop.Advance(0.01);
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_TRUE(recorder->stops[0].finished);
    EXPECT_EQ(view->GetLayer().AnimationForKey("shake"), nullptr);  // removed on completion
    EXPECT_TRUE(view->GetLayer().AnimationKeys().empty());
}

TEST_F(AnimationTest, EndlessSpinStaysUntilRemovedAndThenReportsNotFinished) {
    BasicAnimation spin("transform.rotation");
    spin.SetFromValue(0.0);
    spin.SetToValue(2 * M_PI);
    spin.SetDuration(1);
    spin.SetRepeatCount(HUGE_VALF);
    spin.SetTimingFunction(ui::TimingFunction::Linear);
    spin.SetDelegate(recorder);
    auto& layer = view->GetLayer();
    layer.AddAnimation(spin, "SpinAnimation");
    const auto begin = loop.Loop().Now();
    loop.Advance(3600);
    EXPECT_TRUE(recorder->stops.empty());
    EXPECT_EQ(layer.AnimationKeys(), std::vector<std::string>{"SpinAnimation"});
    // A quarter of a turn 0.25 s into a cycle, the 3601st cycle included.
    auto at = [&](double s) {
        return std::get<double>(
            *layer.PresentationValue("transform.rotation.z", begin + ui::SecondsToDuration(s)));
    };
    EXPECT_NEAR(at(0.25), M_PI / 2, 1e-9);
    EXPECT_NEAR(at(3600.25), M_PI / 2, 1e-6);
    layer.RemoveAnimation("SpinAnimation");
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_FALSE(recorder->stops[0].finished);
    EXPECT_EQ(recorder->stops[0].keyPath, "transform.rotation");
    layer.RemoveAnimation("SpinAnimation");  // gone already: nobody is told twice
    EXPECT_EQ(recorder->stops.size(), 1u);

    ASSERT_EQ(AnimationLog::Entries().size(), 1u);
    EXPECT_TRUE(std::isinf(AnimationLog::Entries()[0].repeatCount));
    EXPECT_EQ(AnimationLog::Entries()[0].key, "SpinAnimation");
}

TEST_F(AnimationTest, PresentationValueFollowsTimingAndAutoreverse) {
    auto& layer = view->GetLayer();
    const auto begin = loop.Loop().Now();
    auto t = [&](double s) { return begin + ui::SecondsToDuration(s); };

    BasicAnimation fade("opacity");
    fade.SetFromValue(0.0);
    fade.SetToValue(1.0);
    fade.SetDuration(1);
    fade.SetTimingFunction(ui::TimingFunction::Linear);
    layer.AddAnimation(fade, "fade");
    // Linear: half the time, half the way.
    EXPECT_NEAR(std::get<double>(*layer.PresentationValue("opacity", t(0.5))), 0.5, 1e-12);
    EXPECT_NEAR(std::get<double>(*layer.PresentationValue("opacity", t(0.25))), 0.25, 1e-12);
    // Past the end it no longer shows: the model value (alpha 1) is back.
    EXPECT_DOUBLE_EQ(std::get<double>(*layer.PresentationValue("opacity", t(1.5))), 1.0);

    // Ease-in-ease-out is symmetric about its middle; ease-in lags behind linear.
    EXPECT_NEAR(ui::ApplyTiming(ui::TimingFunction::EaseInEaseOut, 0.5), 0.5, 1e-9);
    EXPECT_LT(ui::ApplyTiming(ui::TimingFunction::EaseIn, 0.5), 0.5);
    EXPECT_GT(ui::ApplyTiming(ui::TimingFunction::EaseOut, 0.5), 0.5);

    // Auto-reverse, linear, from 0 to 10 over 1 s: 4 at 0.4 s going out, 4 again at 1.6 s
    // coming back, 0 at the end of the cycle.
    BasicAnimation radius("cornerRadius");
    radius.SetFromValue(0.0);
    radius.SetToValue(10.0);
    radius.SetDuration(1);
    radius.SetAutoreverses(true);
    radius.SetTimingFunction(ui::TimingFunction::Linear);
    radius.SetRemovedOnCompletion(false);
    layer.AddAnimation(radius, "radius");
    auto r = [&](double s) {
        return std::get<double>(*layer.PresentationValue("cornerRadius", t(s)));
    };
    EXPECT_NEAR(r(0.4), 4, 1e-9);
    EXPECT_NEAR(r(1.0), 10, 1e-9);
    EXPECT_NEAR(r(1.6), 4, 1e-9);
    EXPECT_NEAR(r(5.0), 0, 1e-9);  // kept after its end, at the value it ends on

    // A missing from value starts at the model value: scale from identity to 2.
    BasicAnimation grow("transform");
    grow.SetToValue(Transform3D::MakeScale(2, 2, 1));
    grow.SetDuration(1);
    grow.SetTimingFunction(ui::TimingFunction::Linear);
    layer.AddAnimation(grow, "grow");
    auto m = std::get<Transform3D>(*layer.PresentationValue("transform", t(0.5)));
    EXPECT_EQ(m, Transform3D::MakeScale(1.5, 1.5, 1));
    EXPECT_FALSE(layer.PresentationValue("noSuchKeyPath", t(0.5)).has_value());
}

TEST_F(AnimationTest, ReplacingTransitionsAndFreedOwnersAreHandled) {
    auto& layer = view->GetLayer();
    BasicAnimation a("opacity");
    a.SetDuration(1);
    a.SetDelegate(recorder);
    layer.AddAnimation(a, "k");
    layer.AddAnimation(a, "k");  // replaces the first, which hears finished = false
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_FALSE(recorder->stops[0].finished);
    EXPECT_EQ(layer.AnimationKeys(), std::vector<std::string>{"k"});
    loop.Advance(1);
    ASSERT_EQ(recorder->stops.size(), 2u);
    EXPECT_TRUE(recorder->stops[1].finished);

    // A fade transition is kept under "transition", whatever key it came with.
    ui::Transition fade;
    fade.SetDuration(1.2);
    fade.SetTimingFunction(ui::TimingFunction::EaseIn);
    view->SetIdentifier("thumbnail");
    layer.AddAnimation(fade, "anything");
    EXPECT_EQ(layer.AnimationKeys(), std::vector<std::string>{"transition"});
    const auto& logged = AnimationLog::Entries().back();
    EXPECT_EQ(logged.kind, "transition");
    EXPECT_EQ(logged.keyPath, "fade");
    EXPECT_EQ(logged.timing, "easeIn");
    EXPECT_EQ(logged.identifier, "thumbnail");
    loop.Advance(1.2);
    EXPECT_TRUE(layer.AnimationKeys().empty());

    // A delegate that is gone is not told; a view freed with an animation running leaves a
    // timer that does nothing when it falls due.
    auto gone = std::make_shared<AnimationRecorder>();
    a.SetDelegate(gone);
    layer.AddAnimation(a, "k");
    gone.reset();
    loop.Advance(1);
    auto doomed = std::make_shared<View>(Rect(0, 0, 1, 1));
    doomed->GetLayer().AddAnimation(a, "k");
    doomed.reset();
    loop.Advance(2);
    EXPECT_EQ(recorder->stops.size(), 2u);
}

TEST_F(AnimationTest, LayerPropertiesShareTheViewsFactsAndBumpItsRevision) {
    auto& layer = view->GetLayer();
    uint64_t r = view->Revision();
    layer.SetCornerRadius(6);
    layer.SetShadowOpacity(0.8);
    layer.SetShadowOffset(ui::Size(-3, 0));
    EXPECT_EQ(view->Revision(), r + 3);
    layer.SetOpacity(0.4);
    EXPECT_DOUBLE_EQ(view->Alpha(), 0.4);  // one fact, two names
    view->SetClipsToBounds(true);
    EXPECT_TRUE(layer.MasksToBounds());
    layer.SetShadowOpacity(3);
    EXPECT_DOUBLE_EQ(layer.ShadowOpacity(), 1);
}

}  // namespace
