#ifndef APP_ZULALERT_H
#define APP_ZULALERT_H
// The application's ready-made alerts. Each takes its title, message and single cancel button
// from the bundle's localised texts (default table) under "<prefix>-Title", "<prefix>-Message"
// and "<prefix>-Button". They are made, not shown: the caller sets a tag if it needs one and
// calls Show().

#include <memory>

#include "platform/ui/AlertView.h"

namespace ZULAlert {

using Delegate = std::shared_ptr<ui::AlertViewDelegate>;

// A request could not reach the service.
ui::AlertView::Ptr initWithNetworkErrorForDelegate(const Delegate& delegate);
// The player failed: the localised message followed by " (code)".
ui::AlertView::Ptr initWithPlayerCustomErrorForDelegate(const Delegate& delegate, int code);

// Sign-in outcomes.
ui::AlertView::Ptr initWithSignInErrorBadCredentialsForDelegate(const Delegate& delegate);
ui::AlertView::Ptr initWithSignInErrorNoMoreFreeSlotsForDelegate(const Delegate& delegate);
ui::AlertView::Ptr initWithSignInSuccessDeviceAddedForDelegate(const Delegate& delegate);
ui::AlertView::Ptr initWithSignInErrorServiceUnavailableForDelegate(const Delegate& delegate);

}  // namespace ZULAlert

#endif  // APP_ZULALERT_H
