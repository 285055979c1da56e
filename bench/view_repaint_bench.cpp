// Repainting the source view after scrolling to the middle of a marked file of 100, 5,000 and
// 50,000 lines (the whole 800 x 600 view each time): the cost must not grow with the file, so
// the 50,000-line repaint is compared with the 100-line one of the same run. For scale, the
// last benchmark draws a whole 5,000-line page with no dirty area, as a painter that skipped
// nothing would.
#include "marking/PageScale.h"
#include "sourceview/SrcWnd.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace tallyport;

// Lines of typical source with tabs, a two-line comment every 20 lines and a stroke every 50.
MarkedSubmission MarkedFileOf(int lines) {
    MarkedSubmission s;
    s.marking.emplace();
    s.marking->mark = 7;
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "\tif (count_" + std::to_string(i) + " > limit)\t/* check " +
                std::to_string(i % 97) + " */\r\n";
    MarkedFile file;
    file.name = "big.c";
    file.tabWidth = 4;
    file.length = int32_t(text.size());
    file.SetText(std::move(text));
    for (int i = 0; i < lines; i += 20)
        file.PushAnnotation(
            std::make_unique<CommentNode>(500, i * 10, 200, 20, "why this\r\alimit?"));
    for (int i = 0; i < lines; i += 50) {
        auto points = std::make_unique<PointNode>(0, 0);
        points = std::make_unique<PointNode>(200, 10, std::move(points));
        points = std::make_unique<PointNode>(100, 30, std::move(points));
        file.PushAnnotation(std::make_unique<LineNode>(40, i * 10, 200, 30, std::move(points)));
    }
    s.files.push_back(std::move(file));
    s.fileCount = 1;
    return s;
}

void BM_RepaintAtMiddle(benchmark::State& state) {
    const MarkedSubmission submission = MarkedFileOf(int(state.range(0)));
    SrcWnd view;
    view.resize(800, 600);
    view.show();
    view.SetFile(&submission, 0);
    view.ScrollTo(0, view.Limit(Qt::Vertical) / 2);
    QApplication::processEvents();
    for (auto _ : state)
        view.repaint(); // a synchronous paint of the whole view
    state.counters["lines"] = double(state.range(0));
}
BENCHMARK(BM_RepaintAtMiddle)->Arg(100)->Arg(5000)->Arg(50000)->Unit(benchmark::kMicrosecond);

void BM_WholePageWithoutDirtyArea(benchmark::State& state) {
    const MarkedSubmission submission = MarkedFileOf(int(state.range(0)));
    SrcWnd view;
    QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setFont(view.pageFont());
        SrcWnd::PaintPage(painter, submission.files[0], QPoint(0, 0), 600, std::nullopt);
    }
}
BENCHMARK(BM_WholePageWithoutDirtyArea)->Arg(5000)->Unit(benchmark::kMicrosecond);

} // namespace

// The application lives in main, so it is gone before Qt's own globals are destroyed at exit.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
