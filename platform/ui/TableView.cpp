#include "platform/ui/TableView.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Control.h"
#include "platform/ui/Label.h"

namespace ui {
namespace {

// A data source or delegate that keeps changing the data while the table lays out its cells
// gets a few rounds per call; the rest waits for the next layout pass, so a call always ends.
constexpr int kMaxTileRounds = 4;
// Each identifier's pool keeps at most this many cells, or twice the rows on screen when that
// is more: a data source that never dequeues does not make the pool grow without end.
constexpr size_t kMinPoolCap = 16;

double SanitizeHeight(double h) { return std::isfinite(h) && h > 0 ? h : 0; }

}  // namespace

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
    SetBackgroundColor(Color::White());
}

TableView::~TableView() = default;

// --- configuration

void TableView::SetDataSource(const std::shared_ptr<TableViewDataSource>& dataSource) {
    dataSource_ = dataSource;
    needsReload_ = true;
    SetNeedsLayout();
}

void TableView::SetDelegate(const std::shared_ptr<TableViewDelegate>& delegate) {
    delegate_ = delegate;
    ScrollView::SetDelegate(delegate);
    needsReload_ = true;  // heights come from the delegate
    SetNeedsLayout();
}

void TableView::SetRowHeight(double height) {
    height = SanitizeHeight(height);
    if (height == rowHeight_) {
        return;
    }
    rowHeight_ = height;
    needsReload_ = true;
    NoteChange();
    SetNeedsLayout();
}

void TableView::SetSectionHeaderHeight(double height) {
    height = SanitizeHeight(height);
    if (height == sectionHeaderHeight_) {
        return;
    }
    sectionHeaderHeight_ = height;
    needsReload_ = true;
    NoteChange();
    SetNeedsLayout();
}

void TableView::SetSeparatorStyle(TableViewCellSeparatorStyle style) {
    if (style == separatorStyle_) {
        return;
    }
    separatorStyle_ = style;
    NoteChange();
}

void TableView::SetTableFooterView(std::shared_ptr<View> view) {
    if (view == footerView_) {
        return;
    }
    if (footerView_) {
        footerView_->RemoveFromSuperview();
    }
    footerView_ = std::move(view);
    if (footerView_) {
        AddSubview(footerView_);
    }
    needsTile_ = true;
    NoteChange();
    SetNeedsLayout();
}

bool TableView::ShowsSeparatorsBelowLastRow() const {
    return separatorStyle_ != TableViewCellSeparatorStyle::None && !footerView_;
}

// --- data

bool TableView::IsValid(const IndexPath& p) const {
    return p.section >= 0 && p.section < static_cast<int>(sections_.size()) && p.row >= 0 &&
           p.row < static_cast<int>(sections_[p.section].rowHeights.size());
}

double TableView::ReadRowHeight(const IndexPath& p) {
    std::optional<double> h;
    if (auto d = Delegate()) {
        h = d->HeightForRow(*this, p);
    }
    return SanitizeHeight(h ? *h : rowHeight_);
}

double TableView::ReadHeaderHeight(int section) {
    if (auto d = Delegate()) {
        if (std::optional<double> h = d->HeightForHeaderInSection(*this, section)) {
            return SanitizeHeight(*h);
        }
    }
    auto ds = DataSource();
    std::optional<std::string> title =
        ds ? ds->TitleForHeaderInSection(*this, section) : std::nullopt;
    return title && !title->empty() ? sectionHeaderHeight_ : 0;
}

void TableView::EnsureData() {
    if (!needsReload_) {
        return;
    }
    needsReload_ = false;
    std::shared_ptr<View> keep = weak_from_this().lock();
    std::vector<std::shared_ptr<TableViewCell>> cells;
    for (auto& entry : visibleCells_) {
        cells.push_back(entry.second);
    }
    visibleCells_.clear();
    for (const auto& cell : cells) {
        Enqueue(cell);
    }
    for (auto& entry : visibleHeaders_) {
        if (entry.second) {
            entry.second->RemoveFromSuperview();
        }
    }
    visibleHeaders_.clear();

    std::vector<Section> sections;
    auto ds = DataSource();
    const int count = ds ? std::max(0, ds->NumberOfSections(*this)) : 0;
    sections.resize(static_cast<size_t>(count));
    for (int s = 0; s < count; ++s) {
        sections[s].headerHeight = ReadHeaderHeight(s);
        const int rows = std::max(0, ds->NumberOfRowsInSection(*this, s));
        sections[s].rowHeights.resize(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            sections[s].rowHeights[r] = ReadRowHeight(IndexPath(s, r));
        }
    }
    sections_ = std::move(sections);
    PlaceSections();
    if (selected_ && !IsValid(*selected_)) {
        selected_.reset();
    }
    needsTile_ = true;
}

void TableView::PlaceSections() {
    double y = 0;
    for (Section& s : sections_) {
        s.headerTop = y;
        y += s.headerHeight;
        s.rowTops.resize(s.rowHeights.size() + 1);
        for (size_t r = 0; r < s.rowHeights.size(); ++r) {
            s.rowTops[r] = y;
            y += s.rowHeights[r];
        }
        s.rowTops.back() = y;
    }
}

double TableView::ContentEnd() const {
    return sections_.empty() ? 0 : sections_.back().rowTops.back();
}

Rect TableView::RowFrame(const IndexPath& p) const {
    const Section& s = sections_[p.section];
    return Rect(0, s.rowTops[p.row], Bounds().size.width, s.rowHeights[p.row]);
}

std::vector<IndexPath> TableView::RowsIn(double top, double bottom) const {
    std::vector<IndexPath> rows;
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& s = sections_[si];
        if (s.rowTops.back() <= top) {
            continue;  // wholly above
        }
        if (s.rowTops.front() >= bottom) {
            break;  // this one and the rest below
        }
        // The first row that ends below the top.
        size_t r = static_cast<size_t>(
            std::upper_bound(s.rowTops.begin() + 1, s.rowTops.end(), top) - s.rowTops.begin() - 1);
        for (; r < s.rowHeights.size() && s.rowTops[r] < bottom; ++r) {
            rows.emplace_back(static_cast<int>(si), static_cast<int>(r));
        }
    }
    return rows;
}

std::optional<IndexPath> TableView::RowAt(const Point& point) const {
    if (point.x < 0 || point.x >= Bounds().size.width) {
        return std::nullopt;
    }
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& s = sections_[si];
        if (point.y >= s.rowTops.front() && point.y < s.rowTops.back()) {
            auto it = std::upper_bound(s.rowTops.begin() + 1, s.rowTops.end(), point.y);
            return IndexPath(static_cast<int>(si), static_cast<int>(it - s.rowTops.begin() - 1));
        }
    }
    return std::nullopt;
}

void TableView::UpdateContentSize() {
    EnsureData();
    const double footer = footerView_ ? footerView_->Frame().size.height : 0;
    SetContentSize(Size(Bounds().size.width, ContentEnd() + footer));
}

void TableView::ReloadData() {
    selected_.reset();
    needsReload_ = true;
    SetNeedsLayout();
}

void TableView::BeginUpdates() { ++updateDepth_; }

void TableView::EndUpdates() {
    if (updateDepth_ == 0) {
        return;  // no BeginUpdates to end
    }
    if (--updateDepth_ == 0) {
        std::vector<IndexPath> paths;
        paths.swap(pendingReloads_);
        ApplyReloads(std::move(paths));
    }
}

void TableView::ReloadRows(const std::vector<IndexPath>& indexPaths,
                           TableViewRowAnimation /*animation*/) {
    // the renderer shows the new cells at its next frame
    if (updateDepth_ > 0) {
        pendingReloads_.insert(pendingReloads_.end(), indexPaths.begin(), indexPaths.end());
        return;
    }
    ApplyReloads(indexPaths);
}

void TableView::ApplyReloads(std::vector<IndexPath> paths) {
    if (paths.empty()) {
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    if (needsReload_) {
        UpdateVisible();  // every row is read anew anyway
        return;
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [this](const IndexPath& p) { return !IsValid(p); }),
                paths.end());
    bool moved = false;
    for (const IndexPath& p : paths) {
        const double h = ReadRowHeight(p);
        if (needsReload_) {
            break;  // the delegate reloaded everything
        }
        if (IsValid(p) && h != sections_[p.section].rowHeights[p.row]) {
            sections_[p.section].rowHeights[p.row] = h;
            moved = true;
        }
    }
    if (moved) {
        PlaceSections();
    }
    for (const IndexPath& p : paths) {
        auto it = visibleCells_.find(p);
        if (it != visibleCells_.end()) {
            std::shared_ptr<TableViewCell> cell = it->second;
            visibleCells_.erase(it);
            Enqueue(cell);
        }
    }
    needsTile_ = true;
    UpdateVisible();
}

// --- cells

std::shared_ptr<TableViewCell> TableView::DequeueReusableCell(const std::string& identifier) {
    auto it = reusePool_.find(identifier);
    if (identifier.empty() || it == reusePool_.end() || it->second.empty()) {
        return nullptr;
    }
    std::shared_ptr<TableViewCell> cell = std::move(it->second.back());
    it->second.pop_back();
    cell->PrepareForReuse();
    return cell;
}

void TableView::Enqueue(const std::shared_ptr<TableViewCell>& cell) {
    cell->RemoveFromSuperview();
    if (cell->ReuseIdentifier().empty()) {
        return;
    }
    auto& pool = reusePool_[cell->ReuseIdentifier()];
    if (pool.size() < std::max(kMinPoolCap, 2 * visibleTarget_) &&
        std::find(pool.begin(), pool.end(), cell) == pool.end()) {
        pool.push_back(cell);
    }
}

void TableView::EnsureVisible() {
    if (needsReload_ || needsTile_ || Bounds() != tiledBounds_) {
        UpdateVisible();
    }
}

void TableView::UpdateVisible() {
    if (tiling_) {
        needsTile_ = true;  // asked from inside a callback: another round follows
        return;
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    tiling_ = true;
    for (int round = 0; round < kMaxTileRounds; ++round) {
        EnsureData();
        TileOnce();
        if (!needsReload_ && !needsTile_ && Bounds() == tiledBounds_) {
            break;
        }
    }
    tiling_ = false;
}

void TableView::TileOnce() {
    needsTile_ = false;
    UpdateContentSize();  // may move an offset the content no longer allows
    const Rect viewport = Bounds();
    const double width = viewport.size.width;
    const std::vector<IndexPath> rows = RowsIn(viewport.MinY(), viewport.MaxY());
    visibleTarget_ = rows.size();

    // Rows that left the screen give their cells to the pool first, so that the data source
    // finds them there for the rows that come on.
    std::vector<std::shared_ptr<TableViewCell>> gone;
    for (auto it = visibleCells_.begin(); it != visibleCells_.end();) {
        if (std::binary_search(rows.begin(), rows.end(), it->first)) {
            it->second->SetFrame(RowFrame(it->first));
            ++it;
        } else {
            gone.push_back(it->second);
            it = visibleCells_.erase(it);
        }
    }
    for (const auto& cell : gone) {
        Enqueue(cell);
    }

    for (const IndexPath& p : rows) {
        if (visibleCells_.count(p) != 0) {
            continue;
        }
        auto ds = DataSource();
        std::shared_ptr<TableViewCell> cell = ds ? ds->CellForRow(*this, p) : nullptr;
        if (needsReload_ || !IsValid(p)) {
            return;  // the data changed under the call: the next round starts over
        }
        const bool shownElsewhere =
            cell && std::any_of(visibleCells_.begin(), visibleCells_.end(),
                                [&](const auto& entry) { return entry.second == cell; });
        if (!cell || shownElsewhere) {
            cell = std::make_shared<TableViewCell>();
        }
        cell->SetFrame(RowFrame(p));
        cell->ContentView();
        cell->SetSelected(selected_ && *selected_ == p);
        visibleCells_[p] = cell;
        AddSubview(cell);
        cell->LayoutIfNeeded();
        if (auto d = Delegate()) {
            d->WillDisplayCell(*this, *cell, p);
        }
        if (needsReload_) {
            return;
        }
    }

    TileHeaders();
    if (footerView_) {
        footerView_->SetFrame(Rect(0, ContentEnd(), width, footerView_->Frame().size.height));
    }
    tiledBounds_ = viewport;
}

void TableView::TileHeaders() {
    const Rect viewport = Bounds();
    const double top = viewport.MinY();
    const double bottom = viewport.MaxY();
    std::map<int, std::shared_ptr<View>> kept;
    for (size_t si = 0; si < sections_.size(); ++si) {
        const Section& s = sections_[si];
        const int section = static_cast<int>(si);
        const double end = s.rowTops.back();
        if (s.headerHeight <= 0 || end <= top || s.headerTop >= bottom) {
            continue;
        }
        // Plain style: the header stays at the top of the viewport while its section is on
        // screen, and is pushed up by the end of its section.
        const double y = std::max(s.headerTop, std::min(top, end - s.headerHeight));
        std::shared_ptr<View> header;
        auto it = visibleHeaders_.find(section);
        if (it != visibleHeaders_.end()) {
            header = it->second;
            visibleHeaders_.erase(it);
        } else {
            if (auto d = Delegate()) {
                header = d->ViewForHeaderInSection(*this, section);
            }
            if (!header) {
                auto ds = DataSource();
                std::optional<std::string> title =
                    ds ? ds->TitleForHeaderInSection(*this, section) : std::nullopt;
                if (title && !title->empty()) {
                    auto label = std::make_shared<Label>();
                    label->SetText(*title);
                    label->SetFont(Font::BoldSystemFont(18));
                    label->SetTextColor(Color::White());
                    label->SetBackgroundColor(Color::Gray());
                    header = label;
                }
            }
            if (needsReload_ || section >= static_cast<int>(sections_.size())) {
                break;  // the data changed under the call: the next round starts over
            }
        }
        if (header) {  // a section without a header view is remembered as such
            header->SetFrame(Rect(0, y, viewport.size.width, s.headerHeight));
            if (header->Superview().get() != this) {
                AddSubview(header);
            }
            BringSubviewToFront(header);
        }
        kept[section] = header;
    }
    for (auto& entry : visibleHeaders_) {
        if (entry.second) {
            entry.second->RemoveFromSuperview();
        }
    }
    visibleHeaders_.swap(kept);
}

int TableView::NumberOfSections() {
    EnsureData();
    return static_cast<int>(sections_.size());
}

int TableView::NumberOfRowsInSection(int section) {
    EnsureData();
    return section >= 0 && section < static_cast<int>(sections_.size())
               ? static_cast<int>(sections_[section].rowHeights.size())
               : 0;
}

Rect TableView::RectForRow(const IndexPath& indexPath) {
    EnsureData();
    return IsValid(indexPath) ? RowFrame(indexPath) : Rect();
}

std::optional<IndexPath> TableView::IndexPathForRowAtPoint(const Point& point) {
    EnsureData();
    return RowAt(point);
}

std::vector<IndexPath> TableView::IndexPathsForVisibleRows() {
    EnsureData();
    const Rect viewport = Bounds();
    return RowsIn(viewport.MinY(), viewport.MaxY());
}

std::vector<std::shared_ptr<TableViewCell>> TableView::VisibleCells() {
    EnsureVisible();
    std::vector<std::shared_ptr<TableViewCell>> cells;
    for (const auto& entry : visibleCells_) {
        cells.push_back(entry.second);
    }
    return cells;
}

std::shared_ptr<TableViewCell> TableView::CellForRow(const IndexPath& indexPath) {
    EnsureVisible();
    auto it = visibleCells_.find(indexPath);
    return it == visibleCells_.end() ? nullptr : it->second;
}

void TableView::LayoutSubviews() { UpdateVisible(); }

// --- selection

void TableView::SetCellSelected(const IndexPath& p, bool selected) {
    auto it = visibleCells_.find(p);
    if (it != visibleCells_.end()) {
        it->second->SetSelected(selected);
    }
}

void TableView::SelectRow(const IndexPath& indexPath, bool animated,
                          TableViewScrollPosition position) {
    EnsureData();
    if (!IsValid(indexPath)) {
        return;
    }
    if (selected_ && *selected_ != indexPath) {
        SetCellSelected(*selected_, false);
    }
    selected_ = indexPath;
    SetCellSelected(indexPath, true);
    if (position == TableViewScrollPosition::None) {
        return;
    }
    const Rect row = RowFrame(indexPath);
    const double height = Bounds().size.height;
    double y = row.MinY();
    if (position == TableViewScrollPosition::Middle) {
        y = row.MidY() - height / 2;
    } else if (position == TableViewScrollPosition::Bottom) {
        y = row.MaxY() - height;
    }
    SetContentOffset(Point(ContentOffset().x, y), animated);
}

void TableView::DeselectRow(const IndexPath& indexPath, bool /*animated*/) {
    if (selected_ && *selected_ == indexPath) {
        selected_.reset();
        SetCellSelected(indexPath, false);
    }
}

bool TableView::TapRow(const IndexPath& indexPath) {
    if (IsHidden() || Alpha() < 0.01 || !IsUserInteractionEnabled()) {
        return false;
    }
    EnsureVisible();
    auto it = visibleCells_.find(indexPath);
    if (it == visibleCells_.end()) {
        return false;  // a person can only tap a row on screen
    }
    std::shared_ptr<View> keep = weak_from_this().lock();
    it->second->SetHighlighted(false);
    if (selected_ && *selected_ != indexPath) {
        SetCellSelected(*selected_, false);
    }
    selected_ = indexPath;
    SetCellSelected(indexPath, true);
    if (auto d = Delegate()) {
        d->DidSelectRow(*this, indexPath);
    }
    return true;
}

// --- touches

View::Ptr TableView::HitTest(const Point& point) {
    Ptr hit = ScrollView::HitTest(point);
    for (View* v = hit.get(); v != nullptr && v != this;) {
        if (dynamic_cast<Control*>(v) != nullptr) {
            return hit;  // a control inside a cell handles its own touches
        }
        if (dynamic_cast<TableViewCell*>(v) != nullptr) {
            return shared_from_this();
        }
        Ptr up = v->Superview();
        v = up.get();  // kept alive by `hit`'s chain
    }
    return hit;
}

void TableView::TouchesBegan(const Point& point) {
    EndTouch();
    EnsureVisible();
    for (const auto& entry : visibleHeaders_) {
        if (entry.second && entry.second->Frame().Contains(point)) {
            return;  // a header covers the row beneath it
        }
    }
    std::optional<IndexPath> row = RowAt(point);
    auto it = row ? visibleCells_.find(*row) : visibleCells_.end();
    if (it == visibleCells_.end()) {
        return;
    }
    touchRow_ = row;
    touchStart_ = point;
    it->second->SetHighlighted(true);
}

void TableView::TouchesMoved(const Point& point) {
    if (touchRow_ && std::hypot(point.x - touchStart_.x, point.y - touchStart_.y) > kTapSlop) {
        EndTouch();  // a drag, not a tap
    }
}

void TableView::TouchesEnded(const Point& point) {
    if (!touchRow_) {
        return;
    }
    const IndexPath row = *touchRow_;
    EndTouch();
    if (std::hypot(point.x - touchStart_.x, point.y - touchStart_.y) <= kTapSlop &&
        RowAt(point) == row) {
        TapRow(row);
    }
}

void TableView::TouchesCancelled() { EndTouch(); }

void TableView::EndTouch() {
    if (!touchRow_) {
        return;
    }
    auto it = visibleCells_.find(*touchRow_);
    if (it != visibleCells_.end()) {
        it->second->SetHighlighted(false);
    }
    touchRow_.reset();
}

}  // namespace ui
