// Makes every shared test medium (tests/support/Fixtures.h) into the build folder's cache, the
// longest recipes first, a few side by side. ctest runs it once before the test programs that
// use the media; each medium it finds already made costs a stat.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/Fixtures.h"

using SvTestSupport::Fixtures;

int main() {
    // Titles name their clips, which are made first inside the same call; a clip two titles
    // share is made once (the fixtures take turns on a file).
    const std::vector<std::pair<const char*, std::function<void()>>> media = {
        {"adaptive title", [] { Fixtures::AdaptiveTitle(); }},
        {"HLS title", [] { Fixtures::HlsTitle(); }},
        {"chapter title", [] { Fixtures::ChapterTitle(); }},
        {"trick title with sound", [] { Fixtures::TrickAudioTitle(); }},
        {"trick title", [] { Fixtures::TrickTitle(); }},
        {"joined title", [] { Fixtures::JoinedTitle(); }},
        {"uneven GOP title", [] { Fixtures::UnevenGopTitle(); }},
        {"player HLS folder", [] { Fixtures::PlayerHlsFolder(); }},
        {"multi-file title", [] { Fixtures::SmilTitle(); }},
        {"multi-rate title", [] { Fixtures::MultiRateTitle(); }},
        {"E-AC-3 title", [] { Fixtures::Eac3Title(); }},
        {"short title", [] { Fixtures::ShortTitle(); }},
        {"two-language title", [] { Fixtures::TwoLanguageTitle(); }},
        {"separate-audio title", [] { Fixtures::SeparateAudioTitle(); }},
        {"video-only title", [] { Fixtures::VideoOnlyTitle(); }},
        {"language titles",
         [] {
             for (const char* language : {"eng", "fra"}) Fixtures::LanguageAudioTitle(language);
         }},
        {"thumbnails",
         [] {
             for (int i = 0; i < 3; ++i) Fixtures::Thumbnail(i);
         }},
    };
    std::atomic<size_t> next{0};
    std::mutex failuresLock;
    std::vector<std::string> failures;
    const auto work = [&] {
        for (size_t i = next++; i < media.size(); i = next++) {
            try {
                media[i].second();
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> hold(failuresLock);
                failures.push_back(std::string(media[i].first) + ": " + e.what());
            }
        }
    };
    // ffmpeg's encoder runs threads of its own: a few recipes at once fill the machine.
    const unsigned workers = std::max(2u, std::min(4u, std::thread::hardware_concurrency() / 2));
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back(work);
    for (std::thread& thread : threads) thread.join();
    for (const std::string& failure : failures) std::fprintf(stderr, "%s\n", failure.c_str());
    if (failures.empty()) std::printf("test media ready in %s\n", Fixtures::Directory().c_str());
    return failures.empty() ? 0 : 1;
}
