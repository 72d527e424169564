#include "platform/ui/TableView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/TestLoop.h"

namespace {

using ui::IndexPath;
using ui::Point;
using ui::Rect;
using ui::Size;
using ui::TableView;
using ui::TableViewCell;

using Cell = std::shared_ptr<TableViewCell>;

// rows[s] rows in section s; cells of identifier "row" from the table's pool when it has one.
class Source : public ui::TableViewDataSource {
public:
    explicit Source(std::vector<int> r) : rows(std::move(r)) {}

    int NumberOfSections(TableView&) override { return static_cast<int>(rows.size()); }
    int NumberOfRowsInSection(TableView&, int section) override { return rows[section]; }
    Cell CellForRow(TableView& table, const IndexPath& p) override {
        ++asked[p];
        order.push_back(p);
        moving.push_back(table.IsDragging() || table.IsDecelerating());
        Cell cell = dequeue ? table.DequeueReusableCell("row") : nullptr;
        if (!cell) {
            cell = std::make_shared<TableViewCell>(ui::TableViewCellStyle::Default, "row");
            created.push_back(cell);
        }
        cell->TextLabel()->SetText(std::to_string(p.section) + "." + std::to_string(p.row));
        return cell;
    }
    std::optional<std::string> TitleForHeaderInSection(TableView&, int section) override {
        auto it = titles.find(section);
        return it == titles.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

    std::vector<int> rows;
    std::map<int, std::string> titles;
    bool dequeue = true;
    std::map<IndexPath, int> asked;
    std::vector<IndexPath> order;
    std::vector<bool> moving;  // the table was dragging or decelerating at that call
    std::vector<std::weak_ptr<TableViewCell>> created;
};

class TableRecorder : public ui::TableViewDelegate {
public:
    std::optional<double> HeightForHeaderInSection(TableView&, int section) override {
        auto it = headerHeights.find(section);
        return it == headerHeights.end() ? std::nullopt : std::optional<double>(it->second);
    }
    std::shared_ptr<ui::View> ViewForHeaderInSection(TableView&, int section) override {
        auto it = headerViews.find(section);
        return it == headerViews.end() ? nullptr : it->second;
    }
    void WillDisplayCell(TableView&, TableViewCell& cell, const IndexPath& p) override {
        ++displayed[p];
        EXPECT_EQ(cell.TextLabel()->Text(),
                  std::to_string(p.section) + "." + std::to_string(p.row));
    }
    void DidSelectRow(TableView&, const IndexPath& p) override { selected.push_back(p); }
    void DidEndDecelerating(ui::ScrollView& view) override {
        // What the search results do: at rest, read the rows on screen again.
        auto& table = static_cast<TableView&>(view);
        restAt = static_cast<int>(source->order.size());
        table.BeginUpdates();
        table.ReloadRows(table.IndexPathsForVisibleRows(), ui::TableViewRowAnimation::None);
        table.EndUpdates();
    }

    std::map<int, double> headerHeights;
    std::map<int, std::shared_ptr<ui::View>> headerViews;
    std::map<IndexPath, int> displayed;
    std::vector<IndexPath> selected;
    Source* source = nullptr;
    int restAt = -1;
};

std::vector<IndexPath> Rows(int section, int first, int last) {
    std::vector<IndexPath> v;
    for (int r = first; r <= last; ++r) {
        v.emplace_back(section, r);
    }
    return v;
}

class TableViewTest : public ::testing::Test {
protected:
    // 100 rows of 44 in a table 320 x 440 unless a test says otherwise.
    void Make(std::vector<int> rows = {100}, Rect frame = Rect(0, 0, 320, 440)) {
        source = std::make_shared<Source>(std::move(rows));
        delegate = std::make_shared<TableRecorder>();
        delegate->source = source.get();
        table = std::make_shared<TableView>(frame);
        table->SetDataSource(source);
        table->SetDelegate(delegate);
    }

    ui::TestLoop loop;
    std::shared_ptr<Source> source;
    std::shared_ptr<TableRecorder> delegate;
    std::shared_ptr<TableView> table;
};

TEST(IndexPathTest, OrdersBySectionThenRowAndHashesBothParts) {
    EXPECT_LT(IndexPath(0, 99), IndexPath(1, 0));
    EXPECT_LT(IndexPath(1, 2), IndexPath(1, 3));
    EXPECT_EQ(IndexPath(2, 5), IndexPath(2, 5));
    EXPECT_NE(IndexPath(0, 1), IndexPath(1, 0));
    std::unordered_set<IndexPath> set{IndexPath(0, 1), IndexPath(1, 0), IndexPath(0, 1)};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_NE(std::hash<IndexPath>()(IndexPath(0, 1)), std::hash<IndexPath>()(IndexPath(1, 0)));
}

TEST_F(TableViewTest, VisibleRowsFollowTheViewport) {
    Make();
    // 440 / 44 = 10 rows: 0..9; row 10 starts at 440, the viewport's (excluded) bottom.
    EXPECT_EQ(table->IndexPathsForVisibleRows(), Rows(0, 0, 9));
    EXPECT_EQ(table->ContentSize(), Size(320, 4400));
    ASSERT_TRUE(table->CellForRow(IndexPath(0, 9)));
    EXPECT_EQ(table->CellForRow(IndexPath(0, 9))->Frame(), Rect(0, 396, 320, 44));  // 9 x 44
    EXPECT_EQ(table->CellForRow(IndexPath(0, 9))->Superview(), table);
    EXPECT_EQ(table->CellForRow(IndexPath(0, 10)), nullptr);
    EXPECT_EQ(table->VisibleCells().size(), 10u);

    table->SetContentOffset(Point(0, 440));
    EXPECT_EQ(table->IndexPathsForVisibleRows(), Rows(0, 10, 19));
    EXPECT_EQ(table->CellForRow(IndexPath(0, 0)), nullptr);
    ASSERT_TRUE(table->CellForRow(IndexPath(0, 10)));
    EXPECT_EQ(table->CellForRow(IndexPath(0, 10))->Frame(), Rect(0, 440, 320, 44));
    EXPECT_EQ(table->CellForRow(IndexPath(0, 10))->TextLabel()->Text(), "0.10");

    // Half a row further: 462 .. 902 shows row 10 (440..484) to row 20 (880..924).
    table->SetContentOffset(Point(0, 462));
    EXPECT_EQ(table->IndexPathsForVisibleRows(), Rows(0, 10, 20));
    // The last screen: 3960 .. 4400 is rows 90..99, and no further.
    table->SetContentOffset(Point(0, 9999));
    EXPECT_EQ(table->IndexPathsForVisibleRows(), Rows(0, 90, 99));
}

TEST_F(TableViewTest, CellsLeavingTheScreenComeBackThroughTheReusePool) {
    Make();
    std::set<TableViewCell*> first;
    for (const Cell& c : table->VisibleCells()) {
        first.insert(c.get());
    }
    ASSERT_EQ(first.size(), 10u);
    table->CellForRow(IndexPath(0, 3))->SetSelected(true);  // reuse must clear it

    table->SetContentOffset(Point(0, 440));
    std::set<TableViewCell*> second;
    for (const Cell& c : table->VisibleCells()) {
        second.insert(c.get());
        EXPECT_FALSE(c->IsSelected());
    }
    EXPECT_EQ(second, first);                // the same ten objects
    EXPECT_EQ(source->created.size(), 10u);  // and no new one

    // Cells the data source never dequeues do not pile up in the pool: 90 screens' worth of
    // new cells, but no more than the 10 on screen and a pool of max(16, 2 x 10) stay alive.
    source->dequeue = false;
    for (int y = 0; y <= 3960; y += 44) {
        table->SetContentOffset(Point(0, y));
        table->VisibleCells();
    }
    const size_t alive = std::count_if(source->created.begin(), source->created.end(),
                                       [](const auto& w) { return !w.expired(); });
    EXPECT_GT(source->created.size(), 90u);
    EXPECT_LE(alive, 30u);
}

TEST_F(TableViewTest, WillDisplayCellOncePerRowEachTimeItComesOnScreen) {
    Make();
    loop.Advance(0.1);  // the layout pass lays out the cells
    EXPECT_EQ(delegate->displayed.size(), 10u);
    for (const IndexPath& p : Rows(0, 0, 9)) {
        EXPECT_EQ(delegate->displayed[p], 1) << p;
    }
    loop.Advance(0.1);
    table->VisibleCells();
    EXPECT_EQ(delegate->displayed[IndexPath(0, 0)], 1);  // still on screen: not again

    table->SetContentOffset(Point(0, 22));  // row 10 comes on, row 0 stays
    loop.Advance(0.1);
    EXPECT_EQ(delegate->displayed[IndexPath(0, 10)], 1);
    EXPECT_EQ(delegate->displayed[IndexPath(0, 0)], 1);

    table->SetContentOffset(Point(0, 880));  // rows 20..29; row 0 leaves
    loop.Advance(0.1);
    table->SetContentOffset(Point(0, 0));
    loop.Advance(0.1);
    EXPECT_EQ(delegate->displayed[IndexPath(0, 0)], 2);
    EXPECT_EQ(delegate->displayed[IndexPath(0, 20)], 1);
    EXPECT_EQ(delegate->displayed.count(IndexPath(0, 30)), 0u);  // never on screen
}

TEST_F(TableViewTest, ReloadRowsInsideUpdatesAsksForTheNamedRowsAtTheEnd) {
    Make();
    Cell oldFive = table->CellForRow(IndexPath(0, 5));
    source->asked.clear();
    delegate->displayed.clear();

    table->BeginUpdates();
    table->BeginUpdates();
    table->ReloadRows({IndexPath(0, 2), IndexPath(0, 5)}, ui::TableViewRowAnimation::None);
    table->ReloadRows({IndexPath(0, 50), IndexPath(3, 0), IndexPath(0, 5)},
                      ui::TableViewRowAnimation::Fade);  // off screen; no such section; twice
    table->EndUpdates();
    loop.Advance(0.1);  // nothing is applied before the outermost end, layout pass or not
    EXPECT_TRUE(source->asked.empty());
    table->EndUpdates();

    EXPECT_EQ(source->asked,
              (std::map<IndexPath, int>{{IndexPath(0, 2), 1}, {IndexPath(0, 5), 1}}));
    EXPECT_EQ(delegate->displayed,
              (std::map<IndexPath, int>{{IndexPath(0, 2), 1}, {IndexPath(0, 5), 1}}));
    // The replaced cells went to the pool first, so the new ones are those same objects.
    EXPECT_TRUE(table->CellForRow(IndexPath(0, 5)) == oldFive ||
                table->CellForRow(IndexPath(0, 2)) == oldFive);
    table->EndUpdates();                                                    // unbalanced: ignored
    table->ReloadRows({IndexPath(0, 9)}, ui::TableViewRowAnimation::None);  // outside: at once
    EXPECT_EQ(source->asked[IndexPath(0, 9)], 1);
}

TEST_F(TableViewTest, HeadersTakeTheirHeightsAboveTheirRowsAndFloat) {
    Make({3, 4, 2}, Rect(0, 0, 320, 200));
    auto custom = std::make_shared<ui::View>();
    delegate->headerHeights[0] = 30;
    delegate->headerViews[0] = custom;
    source->titles[1] = "B";  // no height given: the default 22 for a titled section
    table->ReloadData();
    // Section 0: header 0..30, rows at 30, 74, 118, ends 162.
    // Section 1: header 162..184, rows at 184, 228, 272, 316, ends 360.
    // Section 2: no title and no height: rows at 360, 404, ends 448.
    EXPECT_EQ(table->ContentSize(), Size(320, 448));
    EXPECT_EQ(table->RectForRow(IndexPath(1, 0)), Rect(0, 184, 320, 44));
    EXPECT_EQ(table->RectForRow(IndexPath(2, 1)), Rect(0, 404, 320, 44));
    EXPECT_EQ(table->RectForRow(IndexPath(2, 2)), Rect());
    EXPECT_EQ(table->IndexPathForRowAtPoint(Point(10, 200)), IndexPath(1, 0));
    EXPECT_EQ(table->IndexPathForRowAtPoint(Point(10, 170)), std::nullopt);  // a header

    // 0..200: the three rows of section 0 and section 1's first (184..228).
    std::vector<IndexPath> expected{IndexPath(0, 0), IndexPath(0, 1), IndexPath(0, 2),
                                    IndexPath(1, 0)};
    EXPECT_EQ(table->IndexPathsForVisibleRows(), expected);
    table->VisibleCells();
    EXPECT_EQ(custom->Superview(), table);
    EXPECT_EQ(custom->Frame(), Rect(0, 0, 320, 30));

    // 150..350: 0.2 (118..162) and all of section 1 (316..360 begins before 350).
    table->SetContentOffset(Point(0, 150));
    expected = {IndexPath(0, 2), IndexPath(1, 0), IndexPath(1, 1), IndexPath(1, 2),
                IndexPath(1, 3)};
    EXPECT_EQ(table->IndexPathsForVisibleRows(), expected);
    table->VisibleCells();
    // Section 0's header would float at 150 but its section ends at 162: 162 - 30 = 132.
    EXPECT_EQ(custom->Frame(), Rect(0, 132, 320, 30));
    // Section 1's default header: a label with its title, still in its own place.
    std::shared_ptr<ui::Label> label;
    for (const auto& v : table->Subviews()) {
        if (auto l = std::dynamic_pointer_cast<ui::Label>(v)) {
            label = l;
        }
    }
    ASSERT_TRUE(label);
    EXPECT_EQ(label->Text(), "B");
    EXPECT_EQ(label->Frame(), Rect(0, 162, 320, 22));
    EXPECT_EQ(table->Subviews().back(), label);  // headers above the cells

    // The end, 248 (448 - 200) .. 448: section 1 from 1.1 (228..272) on, and section 2.
    table->SetContentOffset(Point(0, 1000));
    expected = {IndexPath(1, 1), IndexPath(1, 2), IndexPath(1, 3), IndexPath(2, 0),
                IndexPath(2, 1)};
    EXPECT_EQ(table->IndexPathsForVisibleRows(), expected);
    table->VisibleCells();
    EXPECT_EQ(custom->Superview(), nullptr);           // its section has gone
    EXPECT_EQ(label->Frame(), Rect(0, 248, 320, 22));  // pinned to the viewport's top
}

TEST_F(TableViewTest, TapsSelectRowsAndTellTheDelegate) {
    Make();
    // A touch through hit testing: on a cell's label the table itself gets the touch.
    ui::View::Ptr hit = table->HitTest(Point(30, 100));  // row 2 (88..132)
    ASSERT_EQ(hit, table);
    table->TouchesBegan(Point(30, 100));
    EXPECT_TRUE(table->CellForRow(IndexPath(0, 2))->IsHighlighted());
    table->TouchesEnded(Point(32, 104));
    EXPECT_EQ(delegate->selected, (std::vector<IndexPath>{IndexPath(0, 2)}));
    EXPECT_EQ(table->IndexPathForSelectedRow(), IndexPath(0, 2));
    EXPECT_TRUE(table->CellForRow(IndexPath(0, 2))->IsSelected());
    EXPECT_FALSE(table->CellForRow(IndexPath(0, 2))->IsHighlighted());

    // A touch that moves further than the slop is no tap.
    table->TouchesBegan(Point(30, 10));
    table->TouchesMoved(Point(30, 40));
    table->TouchesEnded(Point(30, 40));
    EXPECT_EQ(delegate->selected.size(), 1u);
    EXPECT_FALSE(table->CellForRow(IndexPath(0, 0))->IsHighlighted());

    // A control inside a cell keeps its own touches.
    auto button = std::make_shared<ui::Button>(Rect(250, 5, 60, 30));
    table->CellForRow(IndexPath(0, 0))->ContentView()->AddSubview(button);
    EXPECT_EQ(table->HitTest(Point(260, 10)), button);

    // The driver's tap; the old row is deselected; selecting in code tells nobody.
    EXPECT_TRUE(table->TapRow(IndexPath(0, 7)));
    EXPECT_FALSE(table->CellForRow(IndexPath(0, 2))->IsSelected());
    EXPECT_TRUE(table->CellForRow(IndexPath(0, 7))->IsSelected());
    EXPECT_FALSE(table->TapRow(IndexPath(0, 40)));  // off screen
    table->SelectRow(IndexPath(0, 4), false, ui::TableViewScrollPosition::None);
    EXPECT_EQ(table->IndexPathForSelectedRow(), IndexPath(0, 4));
    EXPECT_EQ(table->ContentOffset(), Point(0, 0));
    EXPECT_EQ(delegate->selected, (std::vector<IndexPath>{IndexPath(0, 2), IndexPath(0, 7)}));

    // The selection follows the row, not the cell, through scrolling.
    table->SetContentOffset(Point(0, 880));
    table->VisibleCells();
    table->SetContentOffset(Point(0, 0));
    EXPECT_TRUE(table->CellForRow(IndexPath(0, 4))->IsSelected());
    EXPECT_FALSE(table->CellForRow(IndexPath(0, 7))->IsSelected());

    table->SetHidden(true);
    EXPECT_FALSE(table->TapRow(IndexPath(0, 1)));
    table->SetHidden(false);
    table->ReloadData();
    EXPECT_EQ(table->IndexPathForSelectedRow(), std::nullopt);
    table->SelectRow(IndexPath(0, 100), false, ui::TableViewScrollPosition::None);  // none
    EXPECT_EQ(table->IndexPathForSelectedRow(), std::nullopt);
}

TEST_F(TableViewTest, FooterEndsTheContentAndHidesTheFillerSeparators) {
    Make({3});
    EXPECT_TRUE(table->ShowsSeparatorsBelowLastRow());
    auto footer = std::make_shared<ui::View>(Rect(0, 0, 100, 50));
    table->SetTableFooterView(footer);
    table->VisibleCells();
    EXPECT_EQ(table->ContentSize(), Size(320, 182));  // 3 x 44 + 50
    EXPECT_EQ(footer->Frame(), Rect(0, 132, 320, 50));
    EXPECT_FALSE(table->ShowsSeparatorsBelowLastRow());
    table->SetTableFooterView(std::make_shared<ui::View>());  // the empty footer
    table->VisibleCells();
    EXPECT_EQ(footer->Superview(), nullptr);
    EXPECT_EQ(table->ContentSize(), Size(320, 132));
    EXPECT_FALSE(table->ShowsSeparatorsBelowLastRow());
}

TEST_F(TableViewTest, RowsAskedWhileMovingAreAskedAgainAtRest) {
    Make();
    loop.Advance(0.1);
    const size_t before = source->order.size();  // rows 0..9, asked at rest
    ASSERT_TRUE(table->BeginDrag());
    table->DragBy(Point(0, -10));
    // 2000 pt/s: 2000^2 / (2 x 2000) = 1000 points in 1 s, from 10 to rest at 1010.
    table->EndDrag(Point(0, -2000));
    for (int i = 0; i < 10; ++i) {
        loop.Advance(0.09);
    }
    EXPECT_TRUE(table->IsDecelerating());
    EXPECT_EQ(delegate->restAt, -1);
    loop.Advance(0.1);
    ASSERT_FALSE(table->IsDecelerating());
    ASSERT_GE(delegate->restAt, 0);
    EXPECT_EQ(table->ContentOffset(), Point(0, 1010));
    // At rest 1010..1450: row 22 (968..1012) to row 32 (1408..1452).
    const std::vector<IndexPath> atRest = Rows(0, 22, 32);
    EXPECT_EQ(table->IndexPathsForVisibleRows(), atRest);
    // Rows that came on during the flick were asked while it moved; at rest each row on
    // screen is asked once more, with the table still.
    std::vector<IndexPath> after(source->order.begin() + delegate->restAt, source->order.end());
    EXPECT_EQ(after, atRest);
    for (size_t i = 0; i < source->order.size(); ++i) {
        EXPECT_EQ(source->moving[i], i >= before && i < static_cast<size_t>(delegate->restAt)) << i;
    }
}

TEST_F(TableViewTest, BadOrMissingPartnersLeaveAWorkingTable) {
    class NoCells : public Source {
    public:
        NoCells() : Source({5}) {}
        Cell CellForRow(TableView&, const IndexPath& p) override {
            return p.row == 1 ? nullptr : shared;  // none, or the same cell for every row
        }
        Cell shared = std::make_shared<TableViewCell>();
    };
    auto bad = std::make_shared<NoCells>();
    auto t = std::make_shared<TableView>(Rect(0, 0, 320, 440));
    t->SetDataSource(bad);
    std::vector<Cell> cells = t->VisibleCells();
    ASSERT_EQ(cells.size(), 5u);
    std::set<TableViewCell*> distinct;
    for (const Cell& c : cells) {
        distinct.insert(c.get());
    }
    EXPECT_EQ(distinct.size(), 5u);  // stand-ins for the missing and the doubled ones

    // A data source that is gone leaves an empty table.
    bad.reset();
    t->ReloadData();
    EXPECT_TRUE(t->VisibleCells().empty());
    EXPECT_EQ(t->ContentSize(), Size(320, 0));
}

TEST(TableViewCellTest, PartsFillTheCellAndTheLabelMakesRoomForTheImage) {
    auto cell = std::make_shared<TableViewCell>(ui::TableViewCellStyle::Default, "id");
    EXPECT_EQ(cell->Frame(), Rect(0, 0, 320, 44));
    auto selectedBg = std::make_shared<ui::View>();
    cell->SetSelectedBackgroundView(selectedBg);
    cell->TextLabel()->SetText("Home");
    cell->LayoutIfNeeded();
    EXPECT_EQ(cell->ContentView()->Frame(), Rect(0, 0, 320, 44));
    EXPECT_EQ(cell->TextLabel()->Frame(), Rect(10, 0, 300, 44));  // 10 margins each side
    // Bottom to top: selected background, content.
    EXPECT_EQ(cell->Subviews(), (std::vector<ui::View::Ptr>{selectedBg, cell->ContentView()}));
    EXPECT_TRUE(selectedBg->IsHidden());

    // A 30 x 30 image: at x 10, centred ((44 - 30) / 2 = 7); text from 10 + 30 + 10 = 50.
    cell->GetImageView()->SetImage(ui::Image::Filled(Size(30, 30), ui::Color::Red(), 0));
    cell->SetFrame(Rect(0, 0, 400, 60));
    cell->LayoutIfNeeded();
    EXPECT_EQ(cell->GetImageView()->Frame(), Rect(10, 15, 30, 30));  // (60 - 30) / 2 = 15
    EXPECT_EQ(cell->TextLabel()->Frame(), Rect(50, 0, 340, 60));     // 400 - 50 - 10
    EXPECT_EQ(selectedBg->Frame(), Rect(0, 0, 400, 60));

    cell->SetHighlighted(true);
    EXPECT_FALSE(selectedBg->IsHidden());
    cell->SetHighlighted(false);
    cell->SetSelected(true);
    EXPECT_FALSE(selectedBg->IsHidden());
    cell->PrepareForReuse();
    EXPECT_FALSE(cell->IsSelected());
    EXPECT_TRUE(selectedBg->IsHidden());
}

}  // namespace
