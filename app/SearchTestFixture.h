#ifndef APP_SEARCHTESTFIXTURE_H
#define APP_SEARCHTESTFIXTURE_H
// The search tests' world: the application's test world (AppFixture) on a phone, with the demo
// portal on a loopback port of its own (search, thumbnails behind the "zul"/"zul" Basic
// challenge, the failing titles 906 and 907), a loopback origin for answers the portal does not
// give, the application launched against one of them, a 320 x 480 table served by a
// SearchContentProvider that the driver drives, and a documents folder of the test's own.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/ResultTableViewCell.h"
#include "app/SearchContentProvider.h"
#include "app/testing/AppFixture.h"
#include "app/testing/AppTestSupport.h"
#include "app/testing/DemoPortal.h"
#include "platform/ui/Image.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UiDevice.h"
#include "portal/DemoData.h"
#include "portal/PortalServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"

namespace SearchTest {

using AppTestSupport::kTimeout;

class SearchTestBase : public AppTestSupport::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ZulPortal::PortalServer::Options options =
            AppTestSupport::DemoPortalOptions(accountsFolder_.File("accounts.json"));
        options.slowSearchMs = 60000;
        // Thumbnails are challenged for "zul"/"zul", the bundle's "ZUL User" and "ZUL Password".
        AppTestSupport::WriteFile(options.accountsFile,
                                  R"({"accounts": [{"login": "demo@zul.test", "password": "demo"}],
                                      "basicAuth": {"user": "zul", "password": "zul"}})");
        portal_ = std::make_unique<ZulPortal::PortalServer>(options);

        root_ = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
        table_ = std::make_shared<ui::TableView>(ui::Rect(0, 0, 320, 480));
        root_->AddSubview(table_);
        driver_ = ui::Driver(root_, &loop_.Clock());
        UseServer(portal_->Address());
    }

    void TearDown() override {
        DismissAlerts();
        provider_.reset();
        // The driver holds the table's tree: it goes with the rest of the screen.
        driver_ = ui::Driver(nullptr, &loop_.Clock());
        AppFixture::TearDown();
    }

    // The application launched with "ZUL Address" = address (the bundle's URL formats), and
    // the searchers made anew with its configuration.
    void UseServer(const std::string& address) {
        ASSERT_NO_FATAL_FAILURE(StartApplication(address));
        MakeSearchers();
    }
    // A provider serving the table, made with the application's configuration as the portal
    // screen makes it.
    virtual void MakeSearchers() {
        provider_ = SearchContentProvider::For(*appDelegate_);
        table_->SetDataSource(provider_);
        table_->SetDelegate(provider_);
        provider_->setTableView(table_);
    }
    std::string OriginAddress() const { return "127.0.0.1:" + std::to_string(origin_.Port()); }

    // A search through the provider, as the portal starts one, until it is over.
    bool Search(const std::string& text) {
        provider_->clearResult();
        provider_->searchForSearchText(text);
        table_->ReloadData();
        return driver_.WaitFor([this] { return !provider_->isSearchInProgress(); }, kTimeout);
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

    std::string ThumbsPath() const { return documents_ + "/Thumbs"; }

    SvTestSupport::TemporaryDirectory accountsFolder_{"zul-search-accounts-"};
    SvTestSupport::TemporaryDirectory folder_{"zul-search-"};
    const std::string documents_ = folder_.File("Documents");
    SvTestSupport::ScopedEnvironment documentsVariable_{"SV_DOCUMENTS_DIR", documents_.c_str()};
    SvTestSupport::TestOrigin origin_;
    std::shared_ptr<ui::View> root_;
    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<SearchContentProvider> provider_;
};

}  // namespace SearchTest

#endif  // APP_SEARCHTESTFIXTURE_H
