// Search results in a GTK window on the test's Xvfb, against the demo portal in this process:
// the table as the portal screen shows it while searching, with the thumbnails downloaded
// (pictures kept beside the test program as search-phone.png and search-pad.png).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/ResultTableViewCell.h"
#include "app/SearchContentProvider.h"
#include "app/ZULAppDelegate.h"
#include "app/ZULColor.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/net/CookieStorage.h"
#include "platform/ui/Application.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "portal/PortalServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

// The result row's background (the shared palette: 17, 17, 17).
const Rgb kRowBackground{17, 17, 17};

class SearchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZulPortal::PortalServer::Options options;
        options.dataFolder = SV_PORTAL_DATA_DIR;
        options.mktitle = SV_MKTITLE_PATH;
        portal_ = std::make_unique<ZulPortal::PortalServer>(options);
    }

    void TearDown() override {
        renderer_.reset();
        provider_.reset();
        app_.reset();
        delegate_.reset();
        source_.reset();
        ns::CookieStorage::Shared().DeleteAllCookies();
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    }

    // The application in a window with a screen that is only the search table.
    void Launch(ui::UserInterfaceIdiom idiom) {
        ui::UiDevice::Current().SetIdiom(idiom);
        source_ = std::make_unique<RunLoopSource>(ns::RunLoop::Main());
        app_ = std::make_unique<ui::Application>();
        delegate_ = std::make_shared<ZULAppDelegate>(portal_->Address());
        app_->SetDelegate(delegate_);
        ASSERT_TRUE(app_->FinishLaunching());
        auto screen = std::make_shared<ui::ViewController>();
        const ui::View::Ptr view = screen->GetView();
        table_ = std::make_shared<ui::TableView>(view->Bounds());
        table_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                    ui::Autoresizing::FlexibleHeight);
        table_->SetBackgroundColor(ZULColor::zulTableViewBackgroundColor());
        table_->SetTableFooterView(std::make_shared<ui::View>());
        view->AddSubview(table_);
        provider_ = std::make_shared<SearchContentProvider>();
        table_->SetDataSource(provider_);
        table_->SetDelegate(provider_);
        provider_->setTableView(table_);
        delegate_->window()->SetRootViewController(screen);
        renderer_ = std::make_unique<Renderer>();
    }

    bool Settle() {
        IterateFor(50ms);
        DrawWatch drawn(renderer_->Window());
        gtk_widget_queue_draw(renderer_->Window());
        const bool ok = drawn.WaitForDrawAfter(0, 3s);
        IteratePending();
        return ok;
    }

    Pixbuf Shot(const std::string& name) {
        EXPECT_TRUE(Settle());
        Pixbuf shot = CaptureWindow(renderer_->Window());
        std::string error;
        if (shot) {
            EXPECT_TRUE(SavePng(shot.get(), PicturePath(name), &error)) << error;
        }
        return shot;
    }

    Rgb ColourAt(const GdkPixbuf* shot, const ui::View& view, const ui::Point& point) const {
        const ui::Point p = renderer_->ToWindow(view.ConvertPointTo(point, nullptr));
        return PixelAt(shot, static_cast<int>(p.x), static_cast<int>(p.y));
    }

    // Searches "game" and waits until the first row shows its downloaded thumbnail.
    std::shared_ptr<ResultTableViewCell> SearchWithThumbnail() {
        provider_->clearResult();
        provider_->searchForSearchText("game");
        table_->ReloadData();
        std::shared_ptr<ResultTableViewCell> cell;
        const bool shown = IterateUntil(
            [&] {
                cell = std::dynamic_pointer_cast<ResultTableViewCell>(table_->CellForRow({0, 0}));
                ui::Image::Ptr image = cell ? cell->thumbView()->GetImage() : nullptr;
                return image && !image->Path().empty() &&
                       image->Path().find("/Thumbs/") != std::string::npos;
            },
            5s);
        EXPECT_TRUE(shown);
        // The fade-in takes 1.2 s.
        IterateFor(1300ms);
        return shown ? cell : nullptr;
    }

    // What a person sees: the row's own background beside the thumbnail, a picture in the
    // thumbnail's place that is neither that background nor one flat colour, the title under
    // it.
    void ExpectResultRow(const std::string& picture) {
        std::shared_ptr<ResultTableViewCell> cell = SearchWithThumbnail();
        ASSERT_NE(nullptr, cell);
        EXPECT_EQ("Game of Life: Episode 1", cell->label()->Text());
        Pixbuf shot = Shot(picture);
        ASSERT_NE(nullptr, shot);
        const ui::Rect thumb = cell->thumbView()->Frame();
        EXPECT_EQ(kRowBackground, ColourAt(shot.get(), *cell, ui::Point(4, thumb.MidY())));
        const Rgb middle = ColourAt(shot.get(), *cell, thumb.Center());
        const Rgb corner =
            ColourAt(shot.get(), *cell, ui::Point(thumb.MinX() + 3, thumb.MinY() + 3));
        EXPECT_NE(kRowBackground, middle);
        EXPECT_NE(middle, corner);
    }

    std::unique_ptr<ZulPortal::PortalServer> portal_;
    std::unique_ptr<RunLoopSource> source_;
    std::unique_ptr<ui::Application> app_;
    std::shared_ptr<ZULAppDelegate> delegate_;
    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<SearchContentProvider> provider_;
    std::unique_ptr<Renderer> renderer_;
};

TEST_F(SearchWindowTest, PhoneShowsResultsWithThumbnails) {
    Launch(ui::UserInterfaceIdiom::Phone);
    ExpectResultRow("search-phone.png");
}

TEST_F(SearchWindowTest, PadShowsResultsWithThumbnails) {
    Launch(ui::UserInterfaceIdiom::Pad);
    ExpectResultRow("search-pad.png");
}

}  // namespace
