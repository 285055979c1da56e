// The CPU of a staff save's body: a 50-annotation marking (4.4 KB, as staff_api_driver sends)
// checked and turned into markup and the answer's JSON by ParseMarkingUpdate, beside nlohmann's
// own parse of the same text into its value tree, the least a save did with its body before.
#include "web/MarkingJson.h"

#include <benchmark/benchmark.h>

namespace {

using nlohmann::json;

std::string FiftyAnnotationBody() {
    json list = json::array();
    for (int i = 0; i < 50; ++i) {
        if (i % 2 == 0)
            list.push_back({{"type", "comment"},
                            {"x", 400},
                            {"y", i * 100},
                            {"text", "Comment " + std::to_string(i) + ":\nwhy this step?"}});
        else
            list.push_back({{"type", "stroke"},
                            {"x", 0},
                            {"y", i * 100},
                            {"width", 300},
                            {"height", 20},
                            {"points", {{0, 0}, {100, 20}, {200, 0}, {300, 20}}}});
    }
    return json{{"version", 3},
                {"mark", 7},
                {"detail", "bench"},
                {"files", {{{"name", "long.c"}, {"annotations", list}}}}}
        .dump();
}

void BM_ParseMarkingUpdate(benchmark::State& state) {
    const std::string body = FiftyAnnotationBody();
    std::string why;
    for (auto _ : state) {
        auto update = tallyport::server::staff::ParseMarkingUpdate(body, why);
        if (!update)
            state.SkipWithError(why.c_str());
        benchmark::DoNotOptimize(update);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
}
BENCHMARK(BM_ParseMarkingUpdate);

void BM_NlohmannValueTree(benchmark::State& state) {
    const std::string body = FiftyAnnotationBody();
    for (auto _ : state)
        benchmark::DoNotOptimize(json::parse(body));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(body.size()));
}
BENCHMARK(BM_NlohmannValueTree);

} // namespace
