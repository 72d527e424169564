// Thumbnails of search results as a person sees them: downloaded for the rows on screen while
// the table is still, kept in Documents/Thumbs, and the two kinds of failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/ResultTableViewCell.h"
#include "app/SearchTestFixture.h"
#include "tests/support/BlackPng.h"
#include "platform/ui/Transition.h"

namespace {

using SearchTest::kTimeout;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SearchThumbnailsTest : public SearchTest::SearchTestBase {
protected:
    // The path of the picture a result row shows; "" for none or a bundle picture.
    std::string ShownPath(const ui::IndexPath& indexPath) {
        ui::Image::Ptr image = ShownThumb(indexPath);
        return image ? image->Path() : std::string();
    }
    bool Shows(const ui::IndexPath& indexPath, const std::string& name) {
        ui::Image::Ptr image = ShownThumb(indexPath);
        return image && image == Named(name);
    }
    // The paths the origin was asked for.
    std::set<std::string> OriginPaths() const {
        std::set<std::string> paths;
        for (const auto& request : origin_.Requests()) paths.insert(request.path);
        return paths;
    }
    // Steps the loop without moving its clock until whatever was started has gone out, come
    // back and been handled: what a test finds after this no longer changes by itself.
    bool Settle() {
        return WaitReal([this] { return LoopIdle(); });
    }
    // Searches the movies of ServeMovies(2) until the first row shows the "missing" picture and
    // the second its own, with nothing but the second's in Thumbs; `error` is the log line of
    // the first row's failure, the `errors`-th of the test.
    void SearchWithFirstThumbnailMissing(size_t errors, std::string& error) {
        ASSERT_TRUE(Search("x"));
        ASSERT_TRUE(WaitReal(
            [this] {
                return Shows({0, 0}, "Search-Placeholder-Missing") &&
                       ShownPath({0, 1}) == ThumbsPath() + "/1.jpg";
            },
            kTimeout));
        EXPECT_EQ((std::set<std::string>{"1.jpg"}), SvTestSupport::DirectoryEntries(ThumbsPath()));
        const std::vector<std::string> lines = Messages("[SCP] zulImageDownload didReceiveError:");
        ASSERT_EQ(errors, lines.size());
        error = lines.back();
    }
    // A search answer of `count` movies "0", "1", ... whose thumbnails the origin serves.
    void ServeMovies(int count, const std::vector<std::string>& ids = {}) {
        const std::string picture = ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, "bars");
        std::string movies;
        for (int i = 0; i < count; ++i) {
            const std::string id = i < static_cast<int>(ids.size()) ? ids[i] : std::to_string(i);
            const std::string path = "/t/" + std::to_string(i) + ".jpg";
            origin_.ServeFile(path, picture);
            movies += std::string(i ? "," : "") + "{\"title\":\"M" + std::to_string(i) +
                      "\",\"thumb\":\"" + origin_.Url(path) + "\",\"id\":\"" + id +
                      "\",\"url\":null}";
        }
        origin_.Serve("/api/search", "{\"results\":{\"movies\":[" + movies + "]}}");
        UseServer(OriginAddress());
    }
};

// "game": episodes 211 and 212 fill the 480-point table (a 24-point header and two 219-point
// rows); the series 201 below them is not on screen.
TEST_F(SearchThumbnailsTest, RowsAtRestDownloadTheirThumbnailsWithTheCredentials) {
    ASSERT_TRUE(Search("game"));
    EXPECT_TRUE(Shows({0, 0}, "Search-Placeholder"));
    ASSERT_TRUE(WaitReal(
        [this] {
            return ShownPath({0, 0}) == ThumbsPath() + "/211.jpg" &&
                   ShownPath({0, 1}) == ThumbsPath() + "/212.jpg";
        },
        kTimeout));
    // The picture arrived later, so it fades in: 1.2 s, ease-in.
    auto cell = std::dynamic_pointer_cast<ResultTableViewCell>(table_->CellForRow({0, 0}));
    ASSERT_NE(nullptr, cell);
    auto fade = cell->thumbView()->GetLayer().AnimationForKey(ui::Transition::kKey);
    ASSERT_NE(nullptr, fade);
    EXPECT_EQ(ui::Animation::Kind::Transition, fade->GetKind());
    EXPECT_DOUBLE_EQ(1.2, fade->Duration());
    EXPECT_EQ(ui::TimingFunction::EaseIn, fade->Timing());

    // The files are the portal's pictures of those titles' clips, byte for byte.
    EXPECT_EQ(ReadFile(ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, "life")),
              ReadFile(ThumbsPath() + "/211.jpg"));
    EXPECT_EQ(ReadFile(ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, "cells")),
              ReadFile(ThumbsPath() + "/212.jpg"));
    EXPECT_EQ((std::set<std::string>{"211.jpg", "212.jpg"}),
              SvTestSupport::DirectoryEntries(ThumbsPath()));

    // The portal challenges the first request; the second carries "zul:zul" in Base64.
    const std::vector<ZulPortal::HttpRequest> requests = PortalRequests("/thumbs/211.jpg");
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("", requests[0].Header("Authorization"));
    EXPECT_EQ("Basic enVsOnp1bA==", requests[1].Header("Authorization"));
    EXPECT_TRUE(PortalRequests("/thumbs/201.jpg").empty());

    // Shown again once the fade is over: the cached file, at once, without animation or
    // request.
    ASSERT_TRUE(driver_.Advance(1.3));
    table_->ReloadData();
    EXPECT_EQ(ThumbsPath() + "/211.jpg", ShownPath({0, 0}));
    cell = std::dynamic_pointer_cast<ResultTableViewCell>(table_->CellForRow({0, 0}));
    ASSERT_NE(nullptr, cell);
    EXPECT_EQ(nullptr, cell->thumbView()->GetLayer().AnimationForKey(ui::Transition::kKey));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(2u, PortalRequests("/thumbs/211.jpg").size());
    EXPECT_EQ(1u,
              Messages("[SCP] zulImageDownload didFinishDownloading:" + ThumbsPath() + "/211.jpg")
                  .size());
}

// Twenty 219-point rows under a 24-point header. Rows 0 to 2 are on screen at the start. A
// drag of 900 points released at 2000 points/s travels 2000^2 / (2 x 2000) = 1000 points more,
// to rest at 1900: rows 8 (1776..1995), 9 and 10 (2214..2433) are on screen then. Rows 3 to 7
// pass by while the table moves and are never asked for.
TEST_F(SearchThumbnailsTest, NoThumbnailRequestsWhileTheTableMoves) {
    ServeMovies(20);
    ASSERT_TRUE(Search("x"));
    const std::set<std::string> first = {"/api/search", "/t/0.jpg", "/t/1.jpg", "/t/2.jpg"};
    ASSERT_TRUE(WaitReal([&] { return OriginPaths() == first; }, kTimeout));

    ASSERT_TRUE(driver_.ScrollTable(table_, 900, 2000));
    ASSERT_TRUE(table_->IsDecelerating());
    ASSERT_TRUE(driver_.Advance(0.5));
    ASSERT_TRUE(table_->IsDecelerating());
    ASSERT_TRUE(Settle());
    EXPECT_EQ(first, OriginPaths());
    // At 0.5 s the table is at 900 + 2000 x 0.5 - 2000 x 0.5^2 / 2 = 1650: rows 7 to 9.
    EXPECT_TRUE(Shows({0, 8}, "Search-Placeholder"));

    ASSERT_TRUE(driver_.Advance(1));
    ASSERT_FALSE(table_->IsDecelerating());
    ASSERT_EQ(1900, table_->ContentOffset().y);
    ASSERT_TRUE(WaitReal([this] { return OriginPaths().size() == 7; }, kTimeout));
    ASSERT_TRUE(Settle());
    std::set<std::string> expected = first;
    expected.insert({"/t/8.jpg", "/t/9.jpg", "/t/10.jpg"});
    EXPECT_EQ(expected, OriginPaths());
    ASSERT_TRUE(WaitReal([this] { return !ShownPath({0, 10}).empty(); }, kTimeout));
}

// A drag held still and let go (no deceleration) starts the rows on screen at once.
TEST_F(SearchThumbnailsTest, DragEndingWithoutDecelerationStartsTheRowsOnScreen) {
    ServeMovies(20);
    ASSERT_TRUE(Search("x"));
    ASSERT_TRUE(driver_.ScrollTable(table_, 1000, 0));
    ASSERT_FALSE(table_->IsDecelerating());
    // At 1000: rows 4 (900..1119), 5 and 6 (1338..1557), after rows 0 to 2 of the start.
    const std::set<std::string> expected = {"/api/search", "/t/0.jpg", "/t/1.jpg", "/t/2.jpg",
                                            "/t/4.jpg",    "/t/5.jpg", "/t/6.jpg"};
    ASSERT_TRUE(WaitReal([&] { return OriginPaths().size() >= expected.size(); }, kTimeout));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(expected, OriginPaths());
}

// "thumbnail": 906 answers 404, 907's connection is reset (both after the challenge).
TEST_F(SearchThumbnailsTest, TransportErrorIsMissingForGoodAndNonOkIsTriedAgain) {
    ASSERT_TRUE(Search("thumbnail"));
    ASSERT_TRUE(WaitReal(
        [this] {
            return Shows({0, 1}, "Search-Placeholder-Missing") &&
                   !Messages("[ID] connection didReceiveResponse statusCode:404").empty();
        },
        kTimeout));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(Shows({0, 0}, "Search-Placeholder"));
    EXPECT_EQ(1u, Messages("[SCP] zulImageDownload didReceiveError:").size());
    EXPECT_TRUE(SvTestSupport::DirectoryEntries(ThumbsPath()).empty());
    // One answer each (a reset request may be sent twice by the transport itself).
    const int tries906 = AuthorizedThumbRequests("906");
    const int tries907 = AuthorizedThumbRequests("907");
    EXPECT_EQ(1, tries906);
    EXPECT_GE(tries907, 1);

    // Shown again while the table is still: 906 is asked for once more, 907 is not.
    table_->ReloadData();
    EXPECT_TRUE(Shows({0, 1}, "Search-Placeholder-Missing"));
    ASSERT_TRUE(WaitReal([&] { return AuthorizedThumbRequests("906") == tries906 + 1; }, kTimeout));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(tries907, AuthorizedThumbRequests("907"));
    EXPECT_TRUE(Shows({0, 0}, "Search-Placeholder"));
    EXPECT_TRUE(SvTestSupport::DirectoryEntries(ThumbsPath()).empty());

    // A new result forgets it: 907 is tried again.
    ASSERT_TRUE(Search("thumbnail"));
    ASSERT_TRUE(WaitReal([&] { return AuthorizedThumbRequests("907") > tries907; }, kTimeout));
}

// A thumbnail over 8 MiB is no thumbnail: dropped as a failure, nothing written or kept.
TEST_F(SearchThumbnailsTest, OversizedThumbnailIsMissing) {
    ServeMovies(2);
    origin_.Serve("/t/0.jpg", std::string(8 * 1024 * 1024 + 1, 'x'));
    ASSERT_TRUE(Search("x"));
    ASSERT_TRUE(WaitReal(
        [this] {
            return Shows({0, 0}, "Search-Placeholder-Missing") && !ShownPath({0, 1}).empty();
        },
        kTimeout));
    EXPECT_EQ((std::set<std::string>{"1.jpg"}), SvTestSupport::DirectoryEntries(ThumbsPath()));
    // Said as the image being too large, not as a transfer that failed.
    EXPECT_EQ((std::vector<std::string>{"[SCP] zulImageDownload didReceiveError:Error "
                                        "Domain=NSURLErrorDomain Code=-1103 \"resource exceeds "
                                        "maximum size\""}),
              Messages("[SCP] zulImageDownload didReceiveError:"));
    EXPECT_TRUE(Messages("[ID] connection didFailWithError:").empty());
}

// An answer that never ends, of any status, or a redirect whose body never ends, is dropped as
// a failure: the "missing" picture, and nothing written.
TEST_F(SearchThumbnailsTest, EndlessAnswerIsMissing) {
    size_t missing = 0;
    for (int status : {200, 404, 302}) {
        SCOPED_TRACE(status);
        ServeMovies(2);
        SvTestSupport::TestOrigin::Fault endless;
        endless.endless = true;
        endless.status = status == 200 ? 0 : status;
        if (status == 302) endless.location = origin_.Url("/t/1.jpg");
        origin_.SetFault("/t/0.jpg", endless);
        std::string error;
        ASSERT_NO_FATAL_FAILURE(SearchWithFirstThumbnailMissing(++missing, error));
        EXPECT_NE(std::string::npos, error.find("Code=-1103")) << error;
    }
}

// A thumbnail not whole a minute after its request started (its default time-out), though its
// bytes keep trickling in, is a transport failure: the "missing" picture, nothing written.
TEST_F(SearchThumbnailsTest, TricklingThumbnailIsMissingAfterItsTimeOut) {
    ServeMovies(2);
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 20;
    origin_.SetFault("/t/0.jpg", trickle);
    ASSERT_TRUE(Search("x"));
    ASSERT_TRUE(WaitReal(
        [this] {
            return ShownPath({0, 1}) == ThumbsPath() + "/1.jpg" &&
                   origin_.AnswersBegun("/t/0.jpg") == 1;
        },
        kTimeout));
    const auto missing = [this] { return Shows({0, 0}, "Search-Placeholder-Missing"); };
    EXPECT_FALSE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), missing, 59));
    EXPECT_TRUE(Shows({0, 0}, "Search-Placeholder"));
    ASSERT_TRUE(AppTestSupport::AdvanceWhileArriving(driver_, loop_.Loop(), missing, 1.5));
    EXPECT_EQ((std::set<std::string>{"1.jpg"}), SvTestSupport::DirectoryEntries(ThumbsPath()));
    const std::vector<std::string> errors = Messages("[SCP] zulImageDownload didReceiveError:");
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors[0].find("Code=-1001")) << errors[0];
}

// A 200 answer that is no picture the window can draw shows the "missing" picture for good,
// as a failure of the server's answer, and nothing is written: a JPEG whose headers (up to its
// scan header, so the size reads well) are followed by garbage, and a page with no picture at
// all. The row beside it shows its thumbnail.
TEST_F(SearchThumbnailsTest, ThumbnailThatDoesNotDecodeIsMissingForGood) {
    const std::string bars =
        ReadFile(ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, "bars"));
    // Past the scan header (marker FF DA): each segment is FF, marker, a length counting itself.
    size_t scan = 2;
    while (scan + 4 <= bars.size() && static_cast<uint8_t>(bars[scan + 1]) != 0xDA) {
        scan +=
            2 + static_cast<uint8_t>(bars[scan + 2]) * 256u + static_cast<uint8_t>(bars[scan + 3]);
    }
    ASSERT_LT(scan + 4, bars.size());
    scan += 2 + static_cast<uint8_t>(bars[scan + 2]) * 256u + static_cast<uint8_t>(bars[scan + 3]);
    std::string garbage(20000, '\0');
    uint32_t x = 7;
    for (char& c : garbage) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);

    size_t missing = 0;
    for (const std::string& answer :
         {bars.substr(0, scan) + garbage, std::string("<html><body>Not found</body></html>")}) {
        SCOPED_TRACE(answer.size());
        ServeMovies(2);
        origin_.Serve("/t/0.jpg", answer);
        const int asked = origin_.AnswersBegun("/t/0.jpg");
        std::string error;
        ASSERT_NO_FATAL_FAILURE(SearchWithFirstThumbnailMissing(++missing, error));
        EXPECT_EQ(0u, error.find("[SCP] zulImageDownload didReceiveError:Error "
                                 "Domain=NSURLErrorDomain Code=-1011 \"bad server response: "))
            << error;
        // Kept: shown again, the row is not asked for once more.
        table_->ReloadData();
        ASSERT_TRUE(Settle());
        EXPECT_TRUE(Shows({0, 0}, "Search-Placeholder-Missing"));
        EXPECT_EQ(asked + 1, origin_.AnswersBegun("/t/0.jpg"));
    }
}

// Ids that name no plain file are stored under the SHA-256 of the id (sha256sum of the bytes
// "../x" and "/"), inside Thumbs; nothing appears beside it.
TEST_F(SearchThumbnailsTest, IdsThatAreNoPlainFileNameStayInsideThumbs) {
    ServeMovies(2, {"../x", "/"});
    ASSERT_TRUE(Search("x"));
    const std::string dotDotX =
        "d6b96a97d147daaae49eb87a5ca7bfbc280e79551016df8aa5edc5920d21c274.jpg";
    const std::string slash =
        "8a5edab282632443219e051e4ade2d1d5bbc671c781051bf1437897cbdfea0f1.jpg";
    ASSERT_TRUE(WaitReal(
        [&] {
            return ShownPath({0, 0}) == ThumbsPath() + "/" + dotDotX &&
                   ShownPath({0, 1}) == ThumbsPath() + "/" + slash;
        },
        kTimeout));
    EXPECT_EQ((std::set<std::string>{dotDotX, slash}),
              SvTestSupport::DirectoryEntries(ThumbsPath()));
    EXPECT_EQ((std::set<std::string>{"Thumbs"}), SvTestSupport::DirectoryEntries(documents_));
    EXPECT_EQ((std::set<std::string>{"Documents"}),
              SvTestSupport::DirectoryEntries(folder_.File("")));
}

// Rows without a usable id (no "id", an empty one, a fraction) each keep the picture of their
// own "thumb": three files, each the bytes its URL served, none shown in another row.
TEST_F(SearchThumbnailsTest, ResultsWithoutIdsKeepTheirOwnPictures) {
    const std::vector<std::string> clips{"bars", "life", "cells"};
    const std::vector<std::string> ids{"", ",\"id\":\"\"", ",\"id\":1.5"};
    std::string movies;
    for (size_t i = 0; i < clips.size(); ++i) {
        const std::string path = "/t/" + std::to_string(i) + ".jpg";
        origin_.ServeFile(path, ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, clips[i]));
        movies += std::string(i ? "," : "") + "{\"title\":\"M" + std::to_string(i) +
                  "\",\"thumb\":\"" + origin_.Url(path) + "\"" + ids[i] + ",\"url\":null}";
    }
    origin_.Serve("/api/search", "{\"results\":{\"movies\":[" + movies + "]}}");
    UseServer(OriginAddress());
    ASSERT_TRUE(Search("x"));
    // A 24-point header and 219-point rows: rows 0, 1 and 2 (from 462) are on screen.
    auto cached = [this](int row) {
        return ShownPath({0, row}).compare(0, ThumbsPath().size() + 1, ThumbsPath() + "/") == 0;
    };
    ASSERT_TRUE(WaitReal([&] { return cached(0) && cached(1) && cached(2); }, kTimeout));
    std::set<std::string> shown;
    for (int row = 0; row < 3; ++row) {
        const std::string path = ShownPath({0, row});
        shown.insert(path);
        // Compared as a whole: the bytes of a picture make no readable failure message.
        EXPECT_TRUE(ReadFile(ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, clips[row])) ==
                    ReadFile(path))
            << "row " << row << " shows " << path;
        EXPECT_EQ(ThumbsPath() + "/thumb-", path.substr(0, ThumbsPath().size() + 7));
    }
    EXPECT_EQ(3u, shown.size());
    EXPECT_EQ(3u, SvTestSupport::DirectoryEntries(ThumbsPath()).size());
    EXPECT_EQ((std::set<std::string>{"/api/search", "/t/0.jpg", "/t/1.jpg", "/t/2.jpg"}),
              OriginPaths());
}

// Thumbnails that want the bundle's Basic credentials ("zul"/"zul"), one on the portal (the
// application's base URL) and one on another host (127.0.0.2) the search answer names: only
// the portal's gets them, after its challenge; the other host's 401 is its answer and the row
// keeps its placeholder.
TEST_F(SearchThumbnailsTest, OnlyThePortalsThumbnailsGetTheCredentials) {
    SvTestSupport::TestOrigin other("127.0.0.2");
    const std::string kBundleCredential = "Basic enVsOnp1bA==";
    struct Row {
        SvTestSupport::TestOrigin* host;
        std::vector<std::string> authorizations;  // of each request for its thumbnail
        const char* shown;                        // the row's picture: a file in Thumbs, or a name
    };
    const Row rows[] = {
        {&other, {""}, "Search-Placeholder"},
        {&origin_, {"", kBundleCredential}, "1.jpg"},
    };
    const std::string picture = ZulPortal::DemoData::ThumbnailPath(SV_PORTAL_DATA_DIR, "bars");
    std::string movies;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string path = "/t/" + std::to_string(i) + ".jpg";
        rows[i].host->ServeFile(path, picture);
        SvTestSupport::TestOrigin::Fault wants;
        wants.authorization = kBundleCredential;
        rows[i].host->SetFault(path, wants);
        movies += std::string(i ? "," : "") + "{\"title\":\"M" + std::to_string(i) +
                  "\",\"thumb\":\"" + rows[i].host->Url(path) + "\",\"id\":\"" + std::to_string(i) +
                  "\",\"url\":null}";
    }
    origin_.Serve("/api/search", "{\"results\":{\"movies\":[" + movies + "]}}");
    UseServer(OriginAddress());
    ASSERT_TRUE(Search("x"));
    // Each download has come to its answer.
    ASSERT_TRUE(WaitReal(
        [&] {
            return ShownPath({0, 1}) == ThumbsPath() + "/1.jpg" &&
                   Messages("[ID] connection didReceiveResponse").size() == std::size(rows);
        },
        kTimeout));
    ASSERT_TRUE(Settle());
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        std::vector<std::string> authorizations;
        for (const ZulPortal::HttpRequest& request : rows[i].host->Requests()) {
            if (request.path == "/t/" + std::to_string(i) + ".jpg") {
                authorizations.push_back(request.Header("Authorization"));
            }
        }
        EXPECT_EQ(rows[i].authorizations, authorizations);
        const ui::IndexPath row{0, static_cast<int>(i)};
        EXPECT_TRUE(ShownPath(row) == ThumbsPath() + "/" + rows[i].shown ||
                    Shows(row, rows[i].shown))
            << ShownPath(row);
    }
    EXPECT_EQ((std::set<std::string>{"1.jpg"}), SvTestSupport::DirectoryEntries(ThumbsPath()));
}

// Twelve thumbnails of 8192 x 8192 grey pixels (about 65 KB each as files, a quarter of a gigabyte
// each decoded) and one of 2000 x 1000, all on screen at once in a table tall enough for the
// thirteen rows. The large ones are over the pixel budget: refused from their header, the "missing"
// picture. The other is decoded at the size its row shows it: a phone's thumbnail is 200 x 160, and
// an aspect fill scales 2000 x 1000 by max(200 / 2000, 160 / 1000) = 0.16, to 320 x 160. Its file
// holds the bytes served. No step of the main loop takes long while the pictures arrive.
TEST_F(SearchThumbnailsTest, HugeThumbnailsAreRefusedOrDecodedSmallWithoutHoldingUpTheLoop) {
    SvTestSupport::TemporaryDirectory pictures("zul-thumbs-png-");
    const std::string huge = pictures.File("huge.png"), wide = pictures.File("wide.png");
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(huge, 8192, 8192));
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(wide, 2000, 1000));
    constexpr int kRows = 13;
    ServeMovies(kRows);
    for (int i = 0; i < kRows; ++i) {
        origin_.ServeFile("/t/" + std::to_string(i) + ".jpg", i == 0 ? wide : huge);
    }
    // A 24-point header and 219-point rows.
    table_->SetFrame(ui::Rect(0, 0, 320, 24 + kRows * 219));
    // The process's peak resident size counts from here (writing 5 to clear_refs resets it).
    const auto kilobytes = [](const std::string& field) {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
        }
        return -1L;
    };
    ASSERT_TRUE(static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"));
    const long residentBefore = kilobytes("VmRSS");
    ASSERT_TRUE(Search("x"));

    // Every row shows its picture from Thumbs or the "missing" one.
    const auto arrived = [this] {
        for (int row = 0; row < kRows; ++row) {
            if (ShownPath({0, row}).rfind(ThumbsPath() + "/", 0) != 0 &&
                !Shows({0, row}, "Search-Placeholder-Missing")) {
                return false;
            }
        }
        return true;
    };
    // Steps as the window's loop steps, timing each.
    std::chrono::steady_clock::duration longest{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!arrived() && std::chrono::steady_clock::now() < end) {
        const auto start = std::chrono::steady_clock::now();
        loop_.Loop().RunOnce(std::chrono::milliseconds(5));
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
    ASSERT_TRUE(arrived());
    // One of these pictures decoded whole is 256 MB of pixels; the small one shown is 200 KB.
    EXPECT_LT(kilobytes("VmHWM") - residentBefore, 100L * 1024)
        << "peak " << kilobytes("VmHWM") << " kB from " << residentBefore << " kB";
    // Generous for a loaded machine; one picture of these decoded here takes far longer.
    EXPECT_LT(longest, std::chrono::milliseconds(250))
        << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms";

    for (int row = 1; row < kRows; ++row) {
        EXPECT_TRUE(Shows({0, row}, "Search-Placeholder-Missing")) << ShownPath({0, row});
    }
    const ui::Image::Ptr shown = ShownThumb({0, 0});
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ(ui::Image::Source::Pixels, shown->GetSource());
    EXPECT_EQ(320, shown->PixelWidth());
    EXPECT_EQ(160, shown->PixelHeight());
    EXPECT_EQ(ThumbsPath() + "/0.jpg", shown->Path());
    EXPECT_TRUE(ReadFile(wide) == ReadFile(ThumbsPath() + "/0.jpg"));
    EXPECT_EQ((std::set<std::string>{"0.jpg"}), SvTestSupport::DirectoryEntries(ThumbsPath()));
    const std::vector<std::string> errors = Messages("[SCP] zulImageDownload didReceiveError:");
    ASSERT_EQ(static_cast<size_t>(kRows - 1), errors.size());
    for (const std::string& error : errors) {
        EXPECT_NE(std::string::npos, error.find("Code=-1011")) << error;
        EXPECT_NE(std::string::npos, error.find("8192 x 8192")) << error;
    }
}

}  // namespace
