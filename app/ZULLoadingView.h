#ifndef APP_ZULLOADINGVIEW_H
#define APP_ZULLOADINGVIEW_H
// A one-line "working on it" indicator: a text and a turning spinner beside it, 10 points
// apart, centred together in the view. The spinner turns by a layer animation; an application
// that comes back to the foreground has lost its layer animations, so a view that was
// spinning adds the animation again then.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

class ZULLoadingView : public ui::View {
public:
    static constexpr const char* kSpinAnimationKey = "SpinAnimation";
    // Between the text and the spinner.
    static constexpr double kGap = 10;

    explicit ZULLoadingView(const ui::Rect& frame = ui::Rect());
    ~ZULLoadingView() override;
    const char* ClassName() const override { return "ZULLoadingView"; }

    void setLoadingText(const std::string& text);
    void startSpin();
    void cancelSpin();
    bool isSpinning() const { return isSpinning_; }

    void LayoutSubviews() override;

    // For tests and inspection.
    const std::shared_ptr<ui::Label>& label() const { return label_; }
    const std::shared_ptr<ui::ImageView>& spinner() const { return spinner_; }

private:
    void handleApplicationWillEnterForegroundNotification();
    void addSpinAnimation();

    std::shared_ptr<ui::ImageView> spinner_;
    std::shared_ptr<ui::Label> label_;
    bool isSpinning_ = false;
    uint64_t foregroundObserver_ = 0;
};

#endif  // APP_ZULLOADINGVIEW_H
