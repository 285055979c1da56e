// The CPU of a staff save's body: a 50-annotation marking (4.4 KB, as staff_api_driver sends)
// checked and turned into markup and the answer's JSON by ParseMarkingUpdate, beside nlohmann's
// own parse of the same text into its value tree, the least a save did with its body before.
#include "FiftyAnnotations.h"
#include "web/MarkingJson.h"

#include <benchmark/benchmark.h>

namespace {

using nlohmann::json;

std::string FiftyAnnotationBody() {
    return json{
        {"version", 3},
        {"mark", 7},
        {"detail", "bench"},
        {"files", {{{"name", "long.c"}, {"annotations", tallyport::bench::FiftyAnnotations()}}}}}
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
