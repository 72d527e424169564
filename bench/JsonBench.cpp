// Throughput of the JSON library beside yajl, RapidJSON and simdjson on one generated document
// of about 20 MB (--json_mb=N changes the size):
//   parse-events  the streaming parser with a delegate that does nothing (yajl: callbacks,
//                 RapidJSON: SAX reader, simdjson: its on-demand parser walked over every
//                 value, each key, string and number read), whole and in pieces of 1, 16,
//                 4096 and 65536 bytes;
//   parse-tree    parsing into values (ours: ns::Value; yajl: yajl_tree; RapidJSON: Document;
//                 simdjson: its DOM), whole, and ours also in pieces;
//   write         the parsed tree written back as compact JSON (ours checks UTF-8 and writes
//                 into the std::string it returns; RapidJSON into its own buffer, with its
//                 default writer, which copies any bytes through, and with the one that checks
//                 UTF-8 as ours does: column rj-checked).
// Every library starts each round with a fresh parser or writer, as ours does, except simdjson:
// its documentation has one parser reused for document after document (it keeps its buffers),
// and so it is used here. A table of MB/s per case and library follows the usual benchmark
// output, with our speed as a ratio of RapidJSON's and simdjson's, and each goal judged
// (ok / UNDER); on a busy machine run it as
//   JsonBench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// and the table holds the median of each case's interleaved rounds. RapidJSON and simdjson have no
// push interface and yajl no incremental tree, so those cells stay empty.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>
#include <sys/resource.h>
#include <yajl/yajl_gen.h>
#include <yajl/yajl_parse.h>
#include <yajl/yajl_tree.h>

#include "json/KvJsonParser.h"
#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"
#include "json/KvJsonWriter.h"
#include "bench/Usage.h"

namespace {

size_t gDocumentMegabytes = 20;

// A catalogue-like document: an array of records with strings (some with escapes and
// non-ASCII text), integers, decimals, booleans, nulls and nested containers.
std::string MakeDocument(size_t bytes) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFF;
    };
    static const char* const kWords[] = {"alpha", "beta",    "gamma", "delta",  "series",
                                         "movie", "episode", "drama", "comedy", "nature"};
    std::string doc = "[\n";
    for (uint64_t i = 0; doc.size() < bytes; ++i) {
        if (i > 0) {
            doc += ",\n";
        }
        char record[1024];
        const uint32_t a = next();
        const uint32_t b = next();
        std::snprintf(
            record, sizeof(record),
            "{\"id\":%llu,\"title\":\"%s %s %u\",\"url\":\"/title/%06u\","
            "\"thumb\":\"http://img.example/t/%u.jpg\",\"price\":%u.%02u,\"ratio\":-0.%06u,"
            "\"views\":%llu,\"active\":%s,\"parent\":null,"
            "\"text\":\"Line one\\nLine \\\"two\\\" caf\xC3\xA9 \\u00e9 \xE2\x82\xAC %u\","
            "\"tags\":[\"%s\",\"%s\",\"%s\"],\"scores\":[%u,%u,%u,%u.5],"
            "\"meta\":{\"w\":%u,\"h\":%u,\"lang\":{\"audio\":\"sv\",\"sub\":[\"en\",\"fi\"]}}}",
            static_cast<unsigned long long>(i), kWords[a % 10], kWords[b % 10], a, a % 1000000, b,
            a % 1000, b % 100, b % 1000000, static_cast<unsigned long long>(a) * 1000003ull,
            (a & 1) ? "true" : "false", b, kWords[(a >> 4) % 10], kWords[(b >> 4) % 10],
            kWords[(a >> 8) % 10], a % 100, b % 1000, a % 10000, b % 10, 320 + a % 1600,
            240 + b % 900);
        doc += record;
    }
    doc += "\n]\n";
    return doc;
}

const std::string& Document() {
    static const std::string* const document =
        new std::string(MakeDocument(gDocumentMegabytes * 1000000));
    return *document;
}

// Page faults this process has taken: a tree's nodes come from the allocator, and a heap
// handed back to the system when one tree is freed costs the next parse a fault per page.
long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Counts the faults of the rounds from here on, reported per round.
class FaultCounter {
public:
    explicit FaultCounter(benchmark::State& state) : state_(state), start_(MinorFaults()) {}
    ~FaultCounter() {
        state_.counters["faults"] = benchmark::Counter(static_cast<double>(MinorFaults() - start_),
                                                       benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& state_;
    const long start_;
};

// ---- ours ----

class NullDelegate : public KvJsonStreamParserDelegate {
public:
    void parserFoundObjectStart(KvJsonStreamParser&) override {}
    void parserFoundObjectKey(KvJsonStreamParser&, std::string_view) override {}
    void parserFoundObjectEnd(KvJsonStreamParser&) override {}
    void parserFoundArrayStart(KvJsonStreamParser&) override {}
    void parserFoundArrayEnd(KvJsonStreamParser&) override {}
    void parserFoundBoolean(KvJsonStreamParser&, bool) override {}
    void parserFoundNull(KvJsonStreamParser&) override {}
    void parserFoundNumber(KvJsonStreamParser&, const ns::Value&) override {}
    void parserFoundString(KvJsonStreamParser&, std::string_view) override {}
};

// Feeds the document in pieces of `chunk` bytes (0: whole); true when it parsed completely.
bool FeedKv(KvJsonStreamParser& parser, const std::string& doc, size_t chunk) {
    if (chunk == 0) {
        chunk = doc.size();
    }
    int status = KvJsonStreamParserWaitingForData;
    for (size_t at = 0; at < doc.size() && status == KvJsonStreamParserWaitingForData;
         at += chunk) {
        status = parser.parse(doc.data() + at, std::min(chunk, doc.size() - at));
    }
    return status == KvJsonStreamParserComplete;
}

void KvEvents(benchmark::State& state, size_t chunk) {
    const std::string& doc = Document();
    for (auto _ : state) {
        NullDelegate delegate;
        KvJsonStreamParser parser;
        parser.setDelegate(&delegate);
        if (!FeedKv(parser, doc, chunk)) {
            state.SkipWithError(parser.error().c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void KvTree(benchmark::State& state, size_t chunk) {
    const std::string& doc = Document();
    FaultCounter faults(state);
    for (auto _ : state) {
        std::optional<ns::Value> value;
        if (chunk == 0) {
            KvJsonParser parser;
            value = parser.objectWithData(doc.data(), doc.size());
        } else {
            KvJsonStreamParserAccumulator accumulator;
            KvJsonStreamParserAdapter adapter;
            adapter.setDelegate(&accumulator);
            KvJsonStreamParser parser;
            parser.setDelegate(&adapter);
            if (FeedKv(parser, doc, chunk)) {
                value = accumulator.takeValue();
            }
        }
        if (!value) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(value->Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void KvWrite(benchmark::State& state) {
    KvJsonParser parser;
    const std::optional<ns::Value> value = parser.objectWithString(Document());
    size_t written = 0;
    for (auto _ : state) {
        KvJsonWriter writer;
        const std::optional<std::string> text = writer.dataWithObject(*value);
        if (!text) {
            state.SkipWithError(writer.error().c_str());
            break;
        }
        written = text->size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
}

// ---- yajl ----

int YajlNull(void*) { return 1; }
int YajlBool(void*, int) { return 1; }
int YajlNumber(void*, const char*, size_t) { return 1; }
int YajlString(void*, const unsigned char*, size_t) { return 1; }
int YajlStartMap(void*) { return 1; }
int YajlMapKey(void*, const unsigned char*, size_t) { return 1; }
int YajlEnd(void*) { return 1; }

const yajl_callbacks kYajlCallbacks = {YajlNull,   YajlBool,     nullptr,      nullptr,
                                       YajlNumber, YajlString,   YajlStartMap, YajlMapKey,
                                       YajlEnd,    YajlStartMap, YajlEnd};

void YajlEvents(benchmark::State& state, size_t chunk) {
    const std::string& doc = Document();
    const size_t piece = chunk == 0 ? doc.size() : chunk;
    for (auto _ : state) {
        yajl_handle handle = yajl_alloc(&kYajlCallbacks, nullptr, nullptr);
        yajl_status status = yajl_status_ok;
        for (size_t at = 0; at < doc.size() && status == yajl_status_ok; at += piece) {
            status = yajl_parse(handle, reinterpret_cast<const unsigned char*>(doc.data()) + at,
                                std::min(piece, doc.size() - at));
        }
        if (status == yajl_status_ok) {
            status = yajl_complete_parse(handle);
        }
        yajl_free(handle);
        if (status != yajl_status_ok) {
            state.SkipWithError("yajl_parse failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void YajlTree(benchmark::State& state) {
    const std::string& doc = Document();  // NUL-terminated by std::string
    FaultCounter faults(state);
    for (auto _ : state) {
        yajl_val tree = yajl_tree_parse(doc.c_str(), nullptr, 0);
        if (tree == nullptr) {
            state.SkipWithError("yajl_tree_parse failed");
            break;
        }
        yajl_tree_free(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void YajlGenerate(yajl_gen gen, yajl_val v) {
    switch (v->type) {
        case yajl_t_string:
            yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(v->u.string),
                            std::strlen(v->u.string));
            break;
        case yajl_t_number: yajl_gen_number(gen, v->u.number.r, std::strlen(v->u.number.r)); break;
        case yajl_t_object:
            yajl_gen_map_open(gen);
            for (size_t i = 0; i < v->u.object.len; ++i) {
                const char* key = v->u.object.keys[i];
                yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
                YajlGenerate(gen, v->u.object.values[i]);
            }
            yajl_gen_map_close(gen);
            break;
        case yajl_t_array:
            yajl_gen_array_open(gen);
            for (size_t i = 0; i < v->u.array.len; ++i) {
                YajlGenerate(gen, v->u.array.values[i]);
            }
            yajl_gen_array_close(gen);
            break;
        case yajl_t_true: yajl_gen_bool(gen, 1); break;
        case yajl_t_false: yajl_gen_bool(gen, 0); break;
        default: yajl_gen_null(gen); break;
    }
}

void YajlWrite(benchmark::State& state) {
    yajl_val tree = yajl_tree_parse(Document().c_str(), nullptr, 0);
    size_t written = 0;
    for (auto _ : state) {
        yajl_gen gen = yajl_gen_alloc(nullptr);
        yajl_gen_config(gen, yajl_gen_validate_utf8, 1);
        YajlGenerate(gen, tree);
        const unsigned char* buffer = nullptr;
        yajl_gen_get_buf(gen, &buffer, &written);
        benchmark::DoNotOptimize(buffer);
        yajl_gen_free(gen);
    }
    yajl_tree_free(tree);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
}

// ---- RapidJSON ----

constexpr unsigned kRapidFlags = rapidjson::kParseValidateEncodingFlag;

void RapidEvents(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) {
        rapidjson::Reader reader;
        rapidjson::BaseReaderHandler<> handler;
        rapidjson::StringStream stream(doc.c_str());
        if (reader.Parse<kRapidFlags>(stream, handler).IsError()) {
            state.SkipWithError("RapidJSON Reader failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void RapidTree(benchmark::State& state) {
    const std::string& doc = Document();
    FaultCounter faults(state);
    for (auto _ : state) {
        rapidjson::Document document;
        if (document.Parse<kRapidFlags>(doc.c_str()).HasParseError()) {
            state.SkipWithError("RapidJSON Document failed");
            break;
        }
        benchmark::DoNotOptimize(document.Size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// Its default writer copies any bytes through; the checked one refuses text that is not UTF-8,
// as ours does (and as the parser RapidJSON is measured with above).
using RapidDefaultWriter = rapidjson::Writer<rapidjson::StringBuffer>;
using RapidCheckedWriter =
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                      rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

template <typename Writer>
void RapidWrite(benchmark::State& state) {
    rapidjson::Document document;
    document.Parse<kRapidFlags>(Document().c_str());
    size_t written = 0;
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        Writer writer(buffer);
        document.Accept(writer);
        written = buffer.GetSize();
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
}

// ---- simdjson ----

const simdjson::padded_string& PaddedDocument() {
    static const simdjson::padded_string* const padded = new simdjson::padded_string(Document());
    return *padded;
}

// Reads every value as a consumer of events would: keys and strings unescaped, numbers
// converted. Throws simdjson_error on a parse error.
template <typename T>
void SimdWalk(T&& value) {
    switch (value.type().value()) {
        case simdjson::ondemand::json_type::object:
            for (auto field : value.get_object()) {
                benchmark::DoNotOptimize(field.unescaped_key().value());
                SimdWalk(field.value());
            }
            break;
        case simdjson::ondemand::json_type::array:
            for (auto element : value.get_array()) {
                SimdWalk(element.value());
            }
            break;
        case simdjson::ondemand::json_type::string:
            benchmark::DoNotOptimize(value.get_string().value());
            break;
        case simdjson::ondemand::json_type::number:
            benchmark::DoNotOptimize(value.get_number().value());
            break;
        case simdjson::ondemand::json_type::boolean:
            benchmark::DoNotOptimize(value.get_bool().value());
            break;
        case simdjson::ondemand::json_type::null: benchmark::DoNotOptimize(value.is_null()); break;
    }
}

void SimdEvents(benchmark::State& state) {
    const simdjson::padded_string& doc = PaddedDocument();
    simdjson::ondemand::parser parser;
    for (auto _ : state) {
        try {
            simdjson::ondemand::document document = parser.iterate(doc);
            SimdWalk(document);
        } catch (const simdjson::simdjson_error& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void SimdTree(benchmark::State& state) {
    const simdjson::padded_string& doc = PaddedDocument();
    simdjson::dom::parser parser;
    FaultCounter faults(state);
    for (auto _ : state) {
        simdjson::dom::element element;
        if (parser.parse(doc).get(element) != simdjson::SUCCESS) {
            state.SkipWithError("simdjson DOM failed");
            break;
        }
        benchmark::DoNotOptimize(element);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void SimdWrite(benchmark::State& state) {
    simdjson::dom::parser parser;
    const simdjson::dom::element element = parser.parse(PaddedDocument()).value();
    size_t written = 0;
    for (auto _ : state) {
        const std::string text = simdjson::to_string(element);
        written = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
}

// ---- summary ----

// The ratio with two decimals, or as many more (up to nine) as it takes for the printed figure
// to be on the same side of the goal as the ratio itself: 0.4996 is not printed as 0.50 beside
// "UNDER" when the goal is 0.50.
std::string AgreeingDigits(double ratio, bool met, double goal) {
    char text[32] = "";
    for (int digits = 2; digits <= 9; ++digits) {
        std::snprintf(text, sizeof(text), "%.*f", digits, ratio);
        if ((std::strtod(text, nullptr) >= goal) == met) {
            break;
        }
    }
    return std::string(text) + "x";
}

// Prints the usual table, and at the end MB/s per case with one column per library, then each
// goal with its verdict.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_repetitions the table takes each case's median, which the
            // library reports after the repetitions; the mean and spread are left out.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const std::string name = run.run_name.str();  // "<case>/<library>"
            const size_t slash = name.rfind('/');
            const auto counter = run.counters.find("bytes_per_second");
            if (slash == std::string::npos || counter == run.counters.end() || run.error_occurred) {
                continue;
            }
            const std::string library = name.substr(slash + 1);
            if (rows_.find(name.substr(0, slash)) == rows_.end()) {
                order_.push_back(name.substr(0, slash));
            }
            rows_[name.substr(0, slash)][library] = counter->second.value / 1e6;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nMB/s (10^6 bytes per second; document %zu bytes)\n", Document().size());
        std::printf("%-24s %8s %8s %10s %10s %8s %12s %13s %11s\n", "case", "kvjson", "yajl",
                    "rapidjson", "rj-checked", "simdjson", "x rapidjson", "x rj-checked",
                    "x simdjson");
        for (const std::string& row : order_) {
            const auto& cells = rows_[row];
            std::printf("%-24s", row.c_str());
            const struct {
                const char* library;
                int width;
            } columns[] = {
                {"kvjson", 8}, {"yajl", 8}, {"rapidjson", 10}, {"rj-checked", 10}, {"simdjson", 8}};
            for (const auto& column : columns) {
                const auto cell = cells.find(column.library);
                if (cell == cells.end()) {
                    std::printf(" %*s", column.width, "-");
                } else {
                    std::printf(" %*.1f", column.width, cell->second);
                }
            }
            // Our speed as a multiple of the peer's.
            const auto ours = cells.find("kvjson");
            const struct {
                const char* library;
                int width;
            } peers[] = {{"rapidjson", 12}, {"rj-checked", 13}, {"simdjson", 11}};
            for (const auto& peer : peers) {
                const auto cell = cells.find(peer.library);
                if (ours == cells.end() || cell == cells.end() || cell->second <= 0) {
                    std::printf(" %*s", peer.width, "-");
                } else {
                    std::printf(" %*.2fx", peer.width - 1, ours->second / cell->second);
                }
            }
            std::printf("\n");
        }
        std::printf("goals (ours as a multiple of the peer's speed):\n");
        const struct {
            const char* row;
            const char* peer;
            double goal;
        } goals[] = {{"parse-events/whole", "rapidjson", 1.0},
                     {"parse-tree/whole", "rapidjson", 0.5},
                     {"write", "rapidjson", 1.0},
                     {"write", "rj-checked", 1.0}};
        for (const auto& goal : goals) {
            std::printf("  %-20s x %-10s >= %.2f: ", goal.row, goal.peer, goal.goal);
            const auto row = rows_.find(goal.row);
            if (row == rows_.end() || row->second.count("kvjson") == 0 ||
                row->second.count(goal.peer) == 0 || row->second.at(goal.peer) <= 0) {
                std::printf("not measured\n");
                continue;
            }
            const double ratio = row->second.at("kvjson") / row->second.at(goal.peer);
            const bool met = ratio >= goal.goal;
            std::printf("%s %s\n", AgreeingDigits(ratio, met, goal.goal).c_str(),
                        met ? "ok" : "UNDER");
        }
    }

private:
    std::vector<std::string> order_;
    std::map<std::string, std::map<std::string, double>> rows_;
};

void Register() {
    const struct {
        const char* name;
        size_t chunk;
    } pieces[] = {{"whole", 0},
                  {"chunk-65536", 65536},
                  {"chunk-4096", 4096},
                  {"chunk-16", 16},
                  {"chunk-1", 1}};
    for (const auto& piece : pieces) {
        const size_t chunk = piece.chunk;
        const std::string events = std::string("parse-events/") + piece.name;
        benchmark::RegisterBenchmark((events + "/kvjson").c_str(),
                                     [chunk](benchmark::State& s) { KvEvents(s, chunk); });
        benchmark::RegisterBenchmark((events + "/yajl").c_str(),
                                     [chunk](benchmark::State& s) { YajlEvents(s, chunk); });
        if (chunk == 0) {
            benchmark::RegisterBenchmark((events + "/rapidjson").c_str(), RapidEvents);
            benchmark::RegisterBenchmark((events + "/simdjson").c_str(), SimdEvents);
        }
    }
    for (const auto& piece : pieces) {
        const size_t chunk = piece.chunk;
        const std::string tree = std::string("parse-tree/") + piece.name;
        benchmark::RegisterBenchmark((tree + "/kvjson").c_str(),
                                     [chunk](benchmark::State& s) { KvTree(s, chunk); });
        if (chunk == 0) {
            benchmark::RegisterBenchmark((tree + "/yajl").c_str(), YajlTree);
            benchmark::RegisterBenchmark((tree + "/rapidjson").c_str(), RapidTree);
            benchmark::RegisterBenchmark((tree + "/simdjson").c_str(), SimdTree);
        }
    }
    benchmark::RegisterBenchmark("write/kvjson", KvWrite);
    benchmark::RegisterBenchmark("write/yajl", YajlWrite);
    benchmark::RegisterBenchmark("write/rapidjson", RapidWrite<RapidDefaultWriter>);
    benchmark::RegisterBenchmark("write/rj-checked", RapidWrite<RapidCheckedWriter>);
    benchmark::RegisterBenchmark("write/simdjson", SimdWrite);
}

}  // namespace

constexpr char kUsage[] =
    "usage: JsonBench [--json_mb=N] [BENCHMARK OPTIONS]\n"
    "\n"
    "Measures the JSON library's streaming parser (events and tree, whole and in pieces) and its\n"
    "writer on one generated document of about 20 MB (--json_mb=N: N MB, 1 to 1024), beside\n"
    "yajl, RapidJSON and simdjson, and prints a table of MB/s per case and library with our\n"
    "speed as a ratio of RapidJSON's and simdjson's and each goal judged (ok / UNDER). On a busy\n"
    "machine add --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true.\n"
    "\n";

void PrintUsage() {
    std::fputs(kUsage, stdout);
    benchmark::PrintDefaultHelp();
}

int main(int argc, char** argv) {
    if (bench::PrintUsageIfAsked(argc, argv, "")) {
        PrintUsage();
        return 0;
    }
    // Our own flag first: --json_mb=N sets the document size.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--json_mb=", 10) == 0) {
            gDocumentMegabytes = std::strtoul(argv[i] + 10, nullptr, 10);
            if (gDocumentMegabytes == 0 || gDocumentMegabytes > 1024) {
                std::fprintf(stderr, "--json_mb takes 1 to 1024\n");
                return 2;
            }
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data(), PrintUsage);
    Register();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
