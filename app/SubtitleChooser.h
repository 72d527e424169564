#ifndef APP_SUBTITLECHOOSER_H
#define APP_SUBTITLECHOOSER_H
// The player screen's pop-up list of subtitle languages: one button per language, in the order
// given (the player screen puts "None" first), on a dark rounded panel with a small arrow
// under it pointing at the subtitle button. A tap on a button tells the delegate the language
// of its entry.
//
// Layout, in points: the panel at (0, 0), kWidth wide and kItemHeight per entry, colour
// 28/39/43 (of 255), opaque, corners rounded by kCornerRadius; "arrow.png" (15 x 8) at
// x = kWidth / 2 - 8, right under the panel; button i at (0, i x kItemHeight), kWidth x
// kItemHeight, tag i, the entry's label centred in white "Arial-BoldMT" 16 on a clear
// background, with the touch highlight. The player screen makes the chooser's container kWidth
// wide and componentHeight() high (the entries and 20 points for the arrow). Main thread only.

#include <memory>
#include <vector>

#include "app/QplayerLayout.h"
#include "app/SubtitleLanguageObject.h"
#include "platform/ui/Button.h"
#include "platform/ui/View.h"

class SubtitleChooserDelegate {
public:
    virtual ~SubtitleChooserDelegate() = default;
    // language: the `language` of the entry chosen ("None" to turn subtitles off).
    virtual void changeSubtitle(const std::string& language) = 0;
};

class SubtitleChooser : public ui::View {
public:
    // As wide as the player screen makes the chooser's container.
    static constexpr double kWidth = QplayerLayout::kChooserWidth;
    static constexpr double kItemHeight = 44;
    static constexpr double kArrowSpace = 20;
    static constexpr double kCornerRadius = 5;
    static constexpr double kArrowWidth = 15;
    static constexpr double kArrowHeight = 8;

    // The chooser for the entries, in that order, with the given frame.
    static std::shared_ptr<SubtitleChooser> initWithSubtitles(
        const std::vector<SubtitleLanguageObject>& subtitles, const ui::Rect& frame);

    const char* ClassName() const override { return "SubtitleChooser"; }

    // The entries x kItemHeight + kArrowSpace.
    int componentHeight() const;
    void setDelegate(std::weak_ptr<SubtitleChooserDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    std::weak_ptr<SubtitleChooserDelegate> delegate() const { return delegate_; }

    // A button was tapped: the delegate hears of the language of the entry at its tag (a tag
    // that names no entry is ignored).
    void itemsTabHandler(const ui::Button& button);

private:
    // Only initWithSubtitles makes a chooser: its subviews can be added once it is owned.
    struct Key {};

public:
    SubtitleChooser(Key, const std::vector<SubtitleLanguageObject>& subtitles,
                    const ui::Rect& frame);

private:
    void setupView();
    void setupItem(size_t index);

    std::vector<SubtitleLanguageObject> subtitles_;
    int numOfitems_;
    std::weak_ptr<SubtitleChooserDelegate> delegate_;
};

#endif  // APP_SUBTITLECHOOSER_H
