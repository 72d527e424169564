#include "app/PendingConnection.h"

#include <utility>

#include "platform/ui/Loop.h"

PendingConnection::~PendingConnection() { Cancel(); }

void PendingConnection::Start(const ns::URLRequest& request, ns::URLConnectionDelegate* delegate) {
    Cancel();
    connection_ = ns::URLConnection::Start(request, delegate, ui::Loop());
}

void PendingConnection::FailLater(std::function<void()> fail) {
    Cancel();
    failTimer_ = ui::Loop().AfterDelay(ui::SecondsToDuration(0), [this, fail = std::move(fail)] {
        failTimer_ = 0;
        fail();
    });
}

void PendingConnection::Cancel() {
    if (connection_) {
        connection_->Cancel();
        connection_.reset();
    }
    if (failTimer_ != 0) {
        ui::Loop().CancelTimer(failTimer_);
        failTimer_ = 0;
    }
}
