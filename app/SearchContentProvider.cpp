#include "app/SearchContentProvider.h"

#include <utility>

#include "app/ResultEmptyTableViewCell.h"
#include "app/ResultLoadingTableViewCell.h"
#include "app/ResultTableViewCell.h"
#include "app/ResultTableViewSectionView.h"
#include "app/ZULAlert.h"
#include "app/ZULColor.h"
#include "app/ZULScreenHost.h"
#include "platform/core/LogWriter.h"
#include "platform/ui/Image.h"

namespace {

// The sections in the order they are shown, whatever the order of the answer.
const char* const kSectionKeys[] = {"movies", "episodes", "series"};

constexpr double kStatusRowHeight = 44;

// A member that is text as it is, a whole number as its decimal digits, else "".
std::string TextOf(const ns::Value& value) {
    if (const std::string* text = value.AsString()) return *text;
    if (const int64_t* number = value.AsInt()) return std::to_string(*number);
    if (const uint64_t* number = value.AsUInt()) return std::to_string(*number);
    return std::string();
}

// The base URL and a page path with exactly one "/" between them.
std::string JoinURL(std::string base, const std::string& path) {
    while (!base.empty() && base.back() == '/') base.pop_back();
    size_t start = 0;
    while (start < path.size() && path[start] == '/') ++start;
    return base + "/" + path.substr(start);
}

template <typename Cell>
std::shared_ptr<Cell> Dequeue(ui::TableView& tableView) {
    std::shared_ptr<Cell> cell =
        std::dynamic_pointer_cast<Cell>(tableView.DequeueReusableCell(Cell::kReuseIdentifier));
    return cell ? cell : Cell::create();
}

}  // namespace

SearchContentProvider::SearchContentProvider(std::string baseURL, std::string searchURLFormat,
                                             std::optional<ns::URLCredential> thumbnailCredential)
    : baseURL_(std::move(baseURL)),
      thumbnailCredential_(std::move(thumbnailCredential)),
      zulSearch_(std::make_unique<ZULSearch>(std::move(searchURLFormat))) {
    zulSearch_->setDelegate(this);
}

std::shared_ptr<SearchContentProvider> SearchContentProvider::For(const ZULScreenHost& host) {
    // The thumbnails' credential is the portal's: bound to its origin, so that a thumbnail on
    // another host never gets it (no base URL: nowhere).
    ns::URLCredential credential(host.zulUser(), host.zulPassword(),
                                 ns::URLCredential::Persistence::ForSession);
    credential.BindToOrigin(ns::URL::Parse(host.zulBaseURL()).value_or(ns::URL()));
    return std::make_shared<SearchContentProvider>(host.zulBaseURL(), host.zulSearchURL(),
                                                   std::move(credential));
}

SearchContentProvider::~SearchContentProvider() {
    zulSearch_->setDelegate(nullptr);
    zulSearch_->cancelSearch();
    for (auto& entry : zulSearchImages_) {
        entry.second->setDelegate(std::weak_ptr<ZULImageDownloadDelegate>());
        entry.second->cancelDownloadImage();
    }
}

void SearchContentProvider::setTableView(const std::shared_ptr<ui::TableView>& tableView) {
    tableView_ = tableView;
}

void SearchContentProvider::searchForSearchText(const std::string& text) {
    zulSearch_->searchForSearchText(text);
}

void SearchContentProvider::cancelSearch() {
    zulSearch_->cancelSearch();
    for (auto& entry : zulSearchImages_) entry.second->cancelDownloadImage();
}

void SearchContentProvider::clearResult() {
    zulSearchResult_ = ns::Value();
    zulSearchSections_.clear();
    for (auto& entry : zulSearchImages_) entry.second->cancelDownloadImage();
    zulSearchImages_.clear();
}

const ns::Value* SearchContentProvider::sectionItemForIndexPath(
    const ui::IndexPath& indexPath) const {
    if (indexPath.section < 0 || indexPath.row < 0 ||
        indexPath.section >= static_cast<int>(zulSearchSections_.size())) {
        return nullptr;
    }
    const ns::Array* items = zulSearchResult_[zulSearchSections_[indexPath.section]].AsArray();
    if (!items || indexPath.row >= static_cast<int>(items->size())) return nullptr;
    return &(*items)[indexPath.row];
}

bool SearchContentProvider::isSearchInProgress() const { return zulSearch_->isSearchInProgress(); }

// --- table

int SearchContentProvider::NumberOfSections(ui::TableView& /*tableView*/) {
    if (isSearchInProgress() || zulSearchSections_.empty()) return 1;
    return static_cast<int>(zulSearchSections_.size());
}

int SearchContentProvider::NumberOfRowsInSection(ui::TableView& /*tableView*/, int section) {
    if (isSearchInProgress() || zulSearchSections_.empty()) return 1;
    if (section < 0 || section >= static_cast<int>(zulSearchSections_.size())) return 0;
    const ns::Array* items = zulSearchResult_[zulSearchSections_[section]].AsArray();
    return items ? static_cast<int>(items->size()) : 0;
}

std::shared_ptr<ui::TableViewCell> SearchContentProvider::CellForRow(
    ui::TableView& tableView, const ui::IndexPath& indexPath) {
    if (isSearchInProgress()) {
        auto cell = Dequeue<ResultLoadingTableViewCell>(tableView);
        cell->SetSelectionStyle(ui::TableViewCellSelectionStyle::None);
        return cell;
    }
    const ns::Value* item = sectionItemForIndexPath(indexPath);
    if (zulSearchSections_.empty() || !item) {
        auto cell = Dequeue<ResultEmptyTableViewCell>(tableView);
        cell->SetSelectionStyle(ui::TableViewCellSelectionStyle::None);
        return cell;
    }

    auto cell = Dequeue<ResultTableViewCell>(tableView);
    cell->label()->SetText(TextOf((*item)["title"]));

    std::shared_ptr<ZULImageDownload>& download = zulSearchImages_[indexPath];
    if (!download) {
        const std::string thumb = TextOf((*item)["thumb"]);
        // Without an id (none, empty, or neither text nor a whole number) the picture is
        // named after its URL, so that such rows do not share one file.
        const std::string id = TextOf((*item)["id"]);
        download = std::make_shared<ZULImageDownload>(
            thumb,
            id.empty() ? ZULImageDownload::imageNameForThumbURL(thumb)
                       : ZULImageDownload::imageNameForID(id),
            indexPath, thumbnailCredential_);
        download->setDelegate(weak_from_this());
        // Decoded no larger than the row shows it.
        download->setShownSize(ResultTableViewCell::metrics().thumbnail);
    }
    ui::Image::Ptr image = download->thumbnail();
    if (!image) {
        if (download->error()) {
            image = ui::Image::Named("Search-Placeholder-Missing");
        } else {
            image = ui::Image::Named("Search-Placeholder");
            // A moving table starts nothing; the rows on screen when it comes to rest do.
            if (!tableView.IsDragging() && !tableView.IsDecelerating()) download->downloadImage();
        }
    }
    cell->setThumbImage(image, false);
    return cell;
}

std::optional<std::string> SearchContentProvider::TitleForHeaderInSection(
    ui::TableView& /*tableView*/, int section) {
    if (isSearchInProgress() || section < 0 ||
        section >= static_cast<int>(zulSearchSections_.size())) {
        return std::nullopt;
    }
    return zulSearchSections_[section];
}

std::optional<double> SearchContentProvider::HeightForRow(ui::TableView& /*tableView*/,
                                                          const ui::IndexPath& /*indexPath*/) {
    if (isSearchInProgress() || zulSearchSections_.empty()) return kStatusRowHeight;
    return ResultTableViewCell::resultTableViewCellHeight();
}

std::optional<double> SearchContentProvider::HeightForHeaderInSection(ui::TableView& /*tableView*/,
                                                                      int /*section*/) {
    if (isSearchInProgress() || zulSearchSections_.empty()) return 0.0;
    return ResultTableViewSectionView::resultTableViewSectionViewHeight();
}

std::shared_ptr<ui::View> SearchContentProvider::ViewForHeaderInSection(ui::TableView& tableView,
                                                                        int section) {
    const std::optional<std::string> title = TitleForHeaderInSection(tableView, section);
    if (!title) return nullptr;
    std::shared_ptr<ResultTableViewSectionView> header = ResultTableViewSectionView::create();
    header->label()->SetText(*title);
    return header;
}

void SearchContentProvider::WillDisplayCell(ui::TableView& /*tableView*/, ui::TableViewCell& cell,
                                            const ui::IndexPath& /*indexPath*/) {
    if (dynamic_cast<ResultTableViewCell*>(&cell)) {
        cell.SetBackgroundColor(ZULColor::zulTableViewResultCellBackgroundColor());
    } else if (auto* loading = dynamic_cast<ResultLoadingTableViewCell*>(&cell)) {
        cell.SetBackgroundColor(ZULColor::zulTableViewResultLoadingCellBackgroundColor());
        loading->zulLoadingView()->startSpin();
    } else if (dynamic_cast<ResultEmptyTableViewCell*>(&cell)) {
        cell.SetBackgroundColor(ZULColor::zulTableViewResultLoadingCellBackgroundColor());
        cell.TextLabel()->SetTextColor(ZULColor::zulTableViewResultLoadingCellTextColor());
    }
}

void SearchContentProvider::DidSelectRow(ui::TableView& /*tableView*/,
                                         const ui::IndexPath& indexPath) {
    lastSelectedURL_.clear();
    if (isSearchInProgress()) return;
    const ns::Value* item = sectionItemForIndexPath(indexPath);
    const ns::Value* url = item ? item->Find("url") : nullptr;
    // A null "url" (or none) is a title without a page: nothing to load.
    if (!url || !url->IsString()) return;
    if (baseURL_.empty()) return;
    lastSelectedURL_ = JoinURL(baseURL_, *url->AsString());
}

// --- scrolling

void SearchContentProvider::DidEndDragging(ui::ScrollView& /*scrollView*/, bool willDecelerate) {
    if (!willDecelerate) reloadVisibleRows();
}

void SearchContentProvider::DidEndDecelerating(ui::ScrollView& /*scrollView*/) {
    reloadVisibleRows();
}

void SearchContentProvider::reloadVisibleRows() {
    std::shared_ptr<ui::TableView> table = tableView_.lock();
    if (!table) return;
    const std::vector<ui::IndexPath> visible = table->IndexPathsForVisibleRows();
    table->BeginUpdates();
    table->ReloadRows(visible, ui::TableViewRowAnimation::None);
    table->EndUpdates();
}

// --- search

void SearchContentProvider::zulSearchDidReceiveData(ZULSearch& /*search*/,
                                                    const ns::Value* results) {
    ns::Log("[SCP] zulSearch didReceiveData");
    // A new result: the downloads of the old rows belong to other titles.
    for (auto& entry : zulSearchImages_) entry.second->cancelDownloadImage();
    zulSearchImages_.clear();
    zulSearchResult_ = results && results->IsDictionary() ? *results : ns::Value();
    zulSearchSections_.clear();
    for (const char* key : kSectionKeys) {
        const ns::Array* items = zulSearchResult_[key].AsArray();
        if (items && !items->empty()) zulSearchSections_.push_back(key);
    }
    if (std::shared_ptr<ui::TableView> table = tableView_.lock()) table->ReloadData();
}

void SearchContentProvider::zulSearchDidReceiveError(ZULSearch& /*search*/,
                                                     const ns::Error& error) {
    ns::Log("[SCP] zulSearch didReceiveError:%@", error.ToString());
    ZULAlert::initWithNetworkErrorForDelegate(nullptr)->Show();
    // The search is over: the table leaves its loading row for what was kept.
    if (std::shared_ptr<ui::TableView> table = tableView_.lock()) table->ReloadData();
}

// --- thumbnails

void SearchContentProvider::zulImageDownloadDidFinishDownloading(ZULImageDownload& download,
                                                                 const std::string& path,
                                                                 const ui::IndexPath& indexPath) {
    ns::Log("[SCP] zulImageDownload didFinishDownloading:%@", path);
    std::shared_ptr<ui::TableView> table = tableView_.lock();
    auto cell = table ? std::dynamic_pointer_cast<ResultTableViewCell>(table->CellForRow(indexPath))
                      : nullptr;
    if (cell) cell->setThumbImage(download.thumbnail(), true);
}

void SearchContentProvider::zulImageDownloadDidReceiveError(ZULImageDownload& /*download*/,
                                                            const ns::Error& error,
                                                            const ui::IndexPath& indexPath) {
    ns::Log("[SCP] zulImageDownload didReceiveError:%@", error.ToString());
    std::shared_ptr<ui::TableView> table = tableView_.lock();
    auto cell = table ? std::dynamic_pointer_cast<ResultTableViewCell>(table->CellForRow(indexPath))
                      : nullptr;
    if (cell) cell->setThumbImage(ui::Image::Named("Search-Placeholder-Missing"), true);
}
