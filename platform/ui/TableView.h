#ifndef PLATFORM_UI_TABLE_VIEW_H
#define PLATFORM_UI_TABLE_VIEW_H
// A scroll view that shows rows in sections, plain style: each section is its header (when it
// has a height) followed by its rows, stacked from the top; the table footer view follows the
// last section. Row y positions come from the row and header heights alone, so the rows on
// screen are computed from the viewport (the bounds) at any time.
//
// Cells. Only rows on screen have cells: the table asks its data source for a cell when a row
// comes on screen, lays it out as a subview at the row's frame, and tells the delegate
// WillDisplayCell once each time the row comes on screen. A cell whose row leaves the screen
// goes to the reuse pool of its identifier (a cell without one is let go) and comes back from
// DequeueReusableCell. Cells follow the viewport at the end of every loop step (the layout
// pass) and before every query of cells; headers float at the top of the viewport while their
// section is on screen, and are laid out above the cells.
//
// Loading. The data is read from the data source (counts, heights) at the first use after
// ReloadData, a new data source or delegate, or a new row height, and the visible cells are
// asked for anew. ReloadRows replaces the named rows only: inside BeginUpdates / EndUpdates
// it waits for the outermost EndUpdates; rows that are off screen only have their heights read
// again. Rows that do not exist are ignored.
//
// Selection. One row at most. A user's tap (a touch down and up on the same row, through hit
// testing and touches, or TapRow from the driver) selects the row and tells DidSelectRow;
// SelectRow / DeselectRow change it without telling. ReloadData clears it.
//
// The data source and the delegate are held weakly (std::weak_ptr, as every delegate of the
// toolkit); the table's delegate is also its scroll view delegate. A data source that is gone
// counts as empty. A data source that hands out no cell, or a cell already on screen for
// another row, gets an empty cell in its place rather than a broken table. Main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ui/IndexPath.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace ui {

class TableView;

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int NumberOfSections(TableView& /*tableView*/) { return 1; }
    virtual int NumberOfRowsInSection(TableView& tableView, int section) = 0;
    virtual std::shared_ptr<TableViewCell> CellForRow(TableView& tableView,
                                                      const IndexPath& indexPath) = 0;
    // None (the default): the section has no header title.
    virtual std::optional<std::string> TitleForHeaderInSection(TableView& /*tableView*/,
                                                               int /*section*/) {
        return std::nullopt;
    }
};

// Every call is optional.
class TableViewDelegate : public ScrollViewDelegate {
public:
    // None (the default): the table's RowHeight().
    virtual std::optional<double> HeightForRow(TableView& /*tableView*/,
                                               const IndexPath& /*indexPath*/) {
        return std::nullopt;
    }
    // None (the default): the table's SectionHeaderHeight() when the section has a non-empty
    // header title, else 0.
    virtual std::optional<double> HeightForHeaderInSection(TableView& /*tableView*/,
                                                           int /*section*/) {
        return std::nullopt;
    }
    // Null (the default): a label with the section's header title, when it has one. Asked
    // each time the header comes on screen.
    virtual std::shared_ptr<View> ViewForHeaderInSection(TableView& /*tableView*/,
                                                         int /*section*/) {
        return nullptr;
    }
    virtual void WillDisplayCell(TableView& /*tableView*/, TableViewCell& /*cell*/,
                                 const IndexPath& /*indexPath*/) {}
    virtual void DidSelectRow(TableView& /*tableView*/, const IndexPath& /*indexPath*/) {}
};

enum class TableViewStyle { Plain = 0 };

// The platform's values; the renderer may animate the replaced rows accordingly.
enum class TableViewRowAnimation {
    Fade = 0,
    Right = 1,
    Left = 2,
    Top = 3,
    Bottom = 4,
    None = 5,
    Middle = 6,
    Automatic = 100
};

// Where SelectRow scrolls the row to; None does not scroll.
enum class TableViewScrollPosition { None = 0, Top = 1, Middle = 2, Bottom = 3 };

enum class TableViewCellSeparatorStyle { None = 0, SingleLine = 1 };

class TableView : public ScrollView {
public:
    static constexpr double kDefaultRowHeight = 44;
    static constexpr double kDefaultSectionHeaderHeight = 22;
    // A touch that moves further than this (points) is no tap.
    static constexpr double kTapSlop = 10;

    explicit TableView(const Rect& frame = Rect(), TableViewStyle style = TableViewStyle::Plain);
    ~TableView() override;
    const char* ClassName() const override { return "TableView"; }
    TableViewStyle Style() const { return style_; }

    std::shared_ptr<TableViewDataSource> DataSource() const { return dataSource_.lock(); }
    void SetDataSource(const std::shared_ptr<TableViewDataSource>& dataSource);
    // Also the scroll view delegate.
    std::shared_ptr<TableViewDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<TableViewDelegate>& delegate);

    double RowHeight() const { return rowHeight_; }
    void SetRowHeight(double height);
    double SectionHeaderHeight() const { return sectionHeaderHeight_; }
    void SetSectionHeaderHeight(double height);
    TableViewCellSeparatorStyle SeparatorStyle() const { return separatorStyle_; }
    void SetSeparatorStyle(TableViewCellSeparatorStyle style);
    // Below the last section, as wide as the table, at its own height.
    const std::shared_ptr<View>& TableFooterView() const { return footerView_; }
    void SetTableFooterView(std::shared_ptr<View> view);
    // Separators are drawn for the rows, and for empty rows below the last one unless a
    // footer view ends the table (an empty footer view hides them).
    bool ShowsSeparatorsBelowLastRow() const;

    void ReloadData();
    void BeginUpdates();
    void EndUpdates();
    void ReloadRows(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);

    // A cell from the pool of `identifier`, prepared for reuse; null when the pool is empty.
    std::shared_ptr<TableViewCell> DequeueReusableCell(const std::string& identifier);

    int NumberOfSections();
    int NumberOfRowsInSection(int section);
    // The row's frame in the table's content; an empty rectangle for a row that does not
    // exist.
    Rect RectForRow(const IndexPath& indexPath);
    // The row under a point of the content (the table's own coordinates); none between rows.
    std::optional<IndexPath> IndexPathForRowAtPoint(const Point& point);
    // The rows that share area with the viewport, in order.
    std::vector<IndexPath> IndexPathsForVisibleRows();
    // Their cells, in the same order.
    std::vector<std::shared_ptr<TableViewCell>> VisibleCells();
    // The row's cell while the row is on screen; null otherwise.
    std::shared_ptr<TableViewCell> CellForRow(const IndexPath& indexPath);

    std::optional<IndexPath> IndexPathForSelectedRow() const { return selected_; }
    // A row that does not exist changes nothing.
    void SelectRow(const IndexPath& indexPath, bool animated, TableViewScrollPosition position);
    void DeselectRow(const IndexPath& indexPath, bool animated);
    // A user's tap on a row on screen: selects it and tells DidSelectRow. False (nothing
    // happens) when the row is not on screen or the table is hidden, transparent or takes no
    // touches.
    bool TapRow(const IndexPath& indexPath);

    // A touch on a cell (other than on a control inside it) goes to the table.
    Ptr HitTest(const Point& point) override;
    void TouchesBegan(const Point& point) override;
    void TouchesMoved(const Point& point) override;
    void TouchesEnded(const Point& point) override;
    void TouchesCancelled() override;

    void LayoutSubviews() override;

protected:
    void UpdateContentSize() override;

private:
    struct Section {
        double headerTop = 0;
        double headerHeight = 0;
        std::vector<double> rowHeights;
        // rowTops[i] is row i's y; one more entry holds the section's end.
        std::vector<double> rowTops;
    };

    bool IsValid(const IndexPath& p) const;
    double ReadRowHeight(const IndexPath& p);
    double ReadHeaderHeight(int section);
    // Reads counts and heights again if asked to; drops every cell and header on screen.
    void EnsureData();
    void PlaceSections();
    double ContentEnd() const;
    Rect RowFrame(const IndexPath& p) const;
    std::optional<IndexPath> RowAt(const Point& point) const;
    std::vector<IndexPath> RowsIn(double top, double bottom) const;
    // Brings the cells, headers and footer in line with the viewport and the data.
    void UpdateVisible();
    void EnsureVisible();
    void TileOnce();
    void TileHeaders();
    void Enqueue(const std::shared_ptr<TableViewCell>& cell);
    void ApplyReloads(std::vector<IndexPath> paths);
    void SetCellSelected(const IndexPath& p, bool selected);
    void EndTouch();

    TableViewStyle style_;
    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> delegate_;
    double rowHeight_ = kDefaultRowHeight;
    double sectionHeaderHeight_ = kDefaultSectionHeaderHeight;
    TableViewCellSeparatorStyle separatorStyle_ = TableViewCellSeparatorStyle::SingleLine;
    std::shared_ptr<View> footerView_;

    std::vector<Section> sections_;
    bool needsReload_ = true;
    bool needsTile_ = true;
    bool tiling_ = false;
    Rect tiledBounds_;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> visibleCells_;
    std::map<int, std::shared_ptr<View>> visibleHeaders_;
    std::unordered_map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
    size_t visibleTarget_ = 0;

    std::optional<IndexPath> selected_;
    int updateDepth_ = 0;
    std::vector<IndexPath> pendingReloads_;

    std::optional<IndexPath> touchRow_;
    Point touchStart_;
};

}  // namespace ui

#endif  // PLATFORM_UI_TABLE_VIEW_H
