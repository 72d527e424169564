#ifndef APP_SEARCHTESTFIXTURE_H
#define APP_SEARCHTESTFIXTURE_H
// The search tests' world: the demo portal on a loopback port of its own (search, thumbnails
// behind the "zul"/"zul" Basic challenge, the failing titles 906 and 907), a loopback origin
// for answers the portal does not give, the application's delegate pointed at one of them, a
// 320 x 480 table served by a SearchContentProvider on a manual-clock loop, a documents folder
// of the test's own and the log lines.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ResultTableViewCell.h"
#include "app/SearchContentProvider.h"
#include "app/ZULAppDelegate.h"
#include "app/testing/AppTestSupport.h"
#include "platform/core/LogWriter.h"
#include "platform/net/CookieStorage.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Image.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/UiDevice.h"
#include "portal/DemoData.h"
#include "portal/PortalServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"

namespace SearchTest {

// Round trips on the loopback take milliseconds; this is the most any may take.
constexpr double kTimeout = 10;

class SearchTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ns::LogWriter::Shared().SetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logs_.push_back(line);
        });
        ZulPortal::PortalServer::Options options;
        options.dataFolder = SV_PORTAL_DATA_DIR;
        options.mktitle = SV_MKTITLE_PATH;
        options.slowSearchMs = 60000;
        // Thumbnails are challenged for "zul"/"zul", the bundle's "ZUL User" and "ZUL Password".
        options.accountsFile = accountsFolder_.File("accounts.json");
        AppTestSupport::WriteFile(options.accountsFile,
                                  R"({"accounts": [{"login": "demo@zul.test", "password": "demo"}],
                                      "basicAuth": {"user": "zul", "password": "zul"}})");
        portal_ = std::make_unique<ZulPortal::PortalServer>(options);
        UseServer(portal_->Address());

        root_ = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
        table_ = std::make_shared<ui::TableView>(ui::Rect(0, 0, 320, 480));
        root_->AddSubview(table_);
        provider_ = std::make_shared<SearchContentProvider>();
        table_->SetDataSource(provider_);
        table_->SetDelegate(provider_);
        provider_->setTableView(table_);
        driver_ = std::make_unique<ui::Driver>(root_, &loop_.Clock());
    }

    void TearDown() override {
        for (const ui::AlertView::Ptr& alert : ui::AlertView::VisibleAlerts()) {
            alert->DismissWithClickedButtonIndex(0, false);
        }
        provider_.reset();
        app_.reset();
        delegate_.reset();
        ns::LogWriter::Shared().SetSink(nullptr);
        ns::CookieStorage::Shared().DeleteAllCookies();
    }

    // The application launched with "ZUL Address" = address (the bundle's URL formats).
    void UseServer(const std::string& address) {
        app_.reset();
        delegate_ = std::make_shared<ZULAppDelegate>(address);
        app_ = std::make_unique<ui::Application>();
        app_->SetDelegate(delegate_);
        // Reads the configuration (and empties the thumbnail cache, as every start does).
        ASSERT_TRUE(app_->FinishLaunching());
    }
    std::string OriginAddress() const { return "127.0.0.1:" + std::to_string(origin_.Port()); }

    // A search through the provider, as the portal starts one, until it is over.
    bool Search(const std::string& text) {
        provider_->clearResult();
        provider_->searchForSearchText(text);
        table_->ReloadData();
        return driver_->WaitFor([this] { return !provider_->isSearchInProgress(); }, kTimeout);
    }

    std::vector<ZulPortal::HttpRequest> PortalRequests(const std::string& path) const {
        std::vector<ZulPortal::HttpRequest> out;
        for (const ZulPortal::HttpRequest& request : portal_->Requests()) {
            if (request.path == path) out.push_back(request);
        }
        return out;
    }
    // Requests of thumbnails that carried the credentials (the first of each is challenged).
    int AuthorizedThumbRequests(const std::string& id) const {
        int n = 0;
        for (const ZulPortal::HttpRequest& request : PortalRequests("/thumbs/" + id + ".jpg")) {
            n += !request.Header("Authorization").empty();
        }
        return n;
    }

    // The image the result cell at the index path shows; null when it is not on screen.
    ui::Image::Ptr ShownThumb(const ui::IndexPath& indexPath) {
        auto cell = std::dynamic_pointer_cast<ResultTableViewCell>(table_->CellForRow(indexPath));
        return cell ? cell->thumbView()->GetImage() : nullptr;
    }
    static ui::Image::Ptr Named(const std::string& name) { return ui::Image::Named(name); }

    std::vector<std::string> Logs() {
        std::lock_guard<std::mutex> lock(logMutex_);
        return logs_;
    }
    std::vector<std::string> Messages(const std::string& prefix) {
        return AppTestSupport::Messages(Logs(), prefix);
    }

    std::string ThumbsPath() const { return documents_ + "/Thumbs"; }

    ui::TestLoop loop_;
    SvTestSupport::TemporaryDirectory accountsFolder_{"zul-search-accounts-"};
    SvTestSupport::TemporaryDirectory folder_{"zul-search-"};
    const std::string documents_ = folder_.File("Documents");
    SvTestSupport::ScopedEnvironment documentsVariable_{"SV_DOCUMENTS_DIR", documents_.c_str()};
    SvTestSupport::TestOrigin origin_;
    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> delegate_;
    std::shared_ptr<ui::View> root_;
    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<SearchContentProvider> provider_;
    std::unique_ptr<ui::Driver> driver_;
    std::mutex logMutex_;
    std::vector<std::string> logs_;
};

}  // namespace SearchTest

#endif  // APP_SEARCHTESTFIXTURE_H
