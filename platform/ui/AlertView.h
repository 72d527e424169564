#ifndef PLATFORM_UI_ALERT_VIEW_H
#define PLATFORM_UI_ALERT_VIEW_H
// A modal alert: title, message, buttons and a delegate held weakly. Buttons are numbered in
// order: the cancel button first (index 0) when there is one, then the other buttons, then
// those added later.
//
// Show() puts the alert on the process-wide list of visible alerts (the renderer shows the
// last one) and appends it to the AlertLog; the list keeps the alert alive while it is
// visible, even when whoever made it lets it go. Showing a visible alert again does nothing.
//
// ClickButtonAtIndex is a person choosing a button (the test driver and the renderer call it):
// the delegate hears ClickedButtonAtIndex, then the alert is dismissed with that index.
// DismissWithClickedButtonIndex (the application's call, any index) dismisses without the
// click: WillDismissWithButtonIndex, the alert leaves the visible list, then
// DidDismissWithButtonIndex, all at once (animated or not: the model has no fade). Main
// thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class AlertView;

// Every call defaults to nothing.
class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    virtual void ClickedButtonAtIndex(AlertView& alert, int index);
    virtual void WillDismissWithButtonIndex(AlertView& alert, int index);
    virtual void DidDismissWithButtonIndex(AlertView& alert, int index);
};

class AlertView : public std::enable_shared_from_this<AlertView> {
public:
    using Ptr = std::shared_ptr<AlertView>;

    AlertView(std::string title, std::string message,
              const std::shared_ptr<AlertViewDelegate>& delegate,
              std::optional<std::string> cancelButtonTitle,
              std::vector<std::string> otherButtonTitles = {});
    AlertView(const AlertView&) = delete;
    AlertView& operator=(const AlertView&) = delete;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }
    const std::string& Message() const { return message_; }
    void SetMessage(const std::string& message) { message_ = message; }
    std::shared_ptr<AlertViewDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<AlertViewDelegate>& delegate) { delegate_ = delegate; }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    // The new button's index.
    int AddButtonWithTitle(const std::string& title);
    int NumberOfButtons() const { return static_cast<int>(buttons_.size()); }
    // Empty for an index out of range.
    std::string ButtonTitleAtIndex(int index) const;
    // -1 when there is none.
    int CancelButtonIndex() const { return cancelIndex_; }
    int FirstOtherButtonIndex() const;

    void Show();
    bool IsVisible() const;
    // False (nothing happens) when the alert is not visible or has no such button.
    bool ClickButtonAtIndex(int index);
    // False (nothing happens) when the alert is not visible.
    bool DismissWithClickedButtonIndex(int index, bool animated);

    // The visible alerts, the first shown first.
    static std::vector<Ptr> VisibleAlerts();
    // The last one shown that is still visible; null when none.
    static Ptr TopVisibleAlert();
    // Bumped whenever an alert is shown or dismissed (the renderer compares it each frame).
    static uint64_t VisibleRevision();

private:
    std::string title_;
    std::string message_;
    std::weak_ptr<AlertViewDelegate> delegate_;
    std::vector<std::string> buttons_;
    int cancelIndex_ = -1;
    int tag_ = 0;
};

}  // namespace ui

#endif  // PLATFORM_UI_ALERT_VIEW_H
