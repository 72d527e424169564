// Search results in a GTK window on the test's Xvfb, against the demo portal in this process:
// the table as the portal screen shows it while searching, with the thumbnails downloaded
// (pictures kept beside the test program as search-phone.png and search-pad.png).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/ResultTableViewCell.h"
#include "app/SearchContentProvider.h"
#include "app/ZULColor.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "platform/net/URLCredential.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

// The result row's background (the shared palette: 17, 17, 17).
const Rgb kRowBackground{17, 17, 17};

class SearchWindowTest : public AppWindowTestBase {
protected:
    void SetUp() override { portal_ = AppTestSupport::StartDemoPortal(); }

    void TearDown() override {
        renderer_.reset();
        provider_.reset();
        Close();
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    }

    // The application in a window with a screen that is only the search table.
    void Launch(ui::UserInterfaceIdiom idiom) {
        ui::UiDevice::Current().SetIdiom(idiom);
        ASSERT_NO_FATAL_FAILURE(StartApplication());
        auto screen = std::make_shared<ui::ViewController>();
        const ui::View::Ptr view = screen->GetView();
        table_ = std::make_shared<ui::TableView>(view->Bounds());
        table_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth |
                                    ui::Autoresizing::FlexibleHeight);
        table_->SetBackgroundColor(ZULColor::zulTableViewBackgroundColor());
        table_->SetTableFooterView(std::make_shared<ui::View>());
        view->AddSubview(table_);
        provider_ = SearchContentProvider::For(*delegate_);
        table_->SetDataSource(provider_);
        table_->SetDelegate(provider_);
        provider_->setTableView(table_);
        delegate_->window()->SetRootViewController(screen);
        renderer_ = std::make_unique<Renderer>();
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
            10s);
        EXPECT_TRUE(shown);
        // The picture fades in (over 1.2 s).
        EXPECT_TRUE(WaitUntilAtRest());
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

    std::shared_ptr<ui::TableView> table_;
    std::shared_ptr<SearchContentProvider> provider_;
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
