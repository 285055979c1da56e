// What the student's client shows for one marked submission: runs the client's own View command
// (offscreen) against a server and prints the mark and every annotation of each file as the
// client read them, one JSON object per line, for the browser tests to compare with what the
// marker drew, and every text cell and line segment the View draws on the page (pixels), for a
// cell-for-cell comparison. With a fourth argument the view dialog is also saved there as a PNG.
//
//   view_marked_probe HOST PORT ENTRY [SCREENSHOT.png]   (student 123456, password demo123;
//   PROBE_STUDENT, PROBE_PASSWORD and PROBE_COURSE choose another)
#include "command/CommandContext.h"
#include "command/CourseCatalogue.h"
#include "marking/MarkedFile.h"
#include "marking/ObjectNode.h"
#include "marking/ViewDlg.h"
#include "marking/ViewMarked.h"
#include "protocol/Transaction.h"
#include "sourceview/SrcWnd.h"
#include "support/ScriptedPrompts.h"
#include "support/RecordingSurface.h"
#include "support/ScriptedTransactionUi.h"
#include "support/TempDir.h"
#include "ui/DialogUnits.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>

using namespace tallyport;
using nlohmann::json;

namespace {

class NoFields : public MainDialogFields {
public:
    void FocusStudentNumber() override {}
    void FocusPassword() override {}
    void SetPasswordText(std::string_view) override {}
};

// Bytes as JSON can carry them: comment texts are Windows-1252, shown here byte for byte as
// code points U+0000..U+00FF.
std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

json Annotations(const MarkedFile& file) {
    json list = json::array();
    for (const ObjectNode* node = file.annotations.get(); node; node = node->next.get()) {
        json item = {
            {"x", node->x}, {"y", node->y}, {"width", node->width}, {"height", node->height}};
        if (const auto* comment = dynamic_cast<const CommentNode*>(node)) {
            item["type"] = "comment";
            item["text"] = Latin1ToUtf8(comment->text);
        } else if (const auto* stroke = dynamic_cast<const LineNode*>(node)) {
            item["type"] = "stroke";
            json points = json::array(); // in the client's chain order
            for (const PointNode* p = stroke->points.get(); p; p = p->next.get())
                points.push_back({p->x, p->y});
            item["points"] = points;
        }
        list.push_back(item);
    }
    return list;
}

// What the View draws of the page, in pixels: each text cell with its colour, each segment.
json Drawing(const MarkedFile& file) {
    test::RecordingSurface surface;
    DrawViewedPage(surface, file);
    json cells = json::array();
    for (const test::TextCell& cell : surface.cells)
        cells.push_back({cell.x, cell.y, cell.text,
                         cell.colour == kBlack ? "black" : cell.colour == kRed ? "red" : "other"});
    json segments = json::array();
    for (const test::Segment& segment : surface.segments)
        segments.push_back({segment.x1, segment.y1, segment.x2, segment.y2});
    return {{"cells", cells}, {"segments", segments}};
}

const char* EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc < 4) {
        std::cerr << "usage: view_marked_probe HOST PORT ENTRY [SCREENSHOT.png]\n";
        return 2;
    }
    test::TempDir dir;
    test::ScriptedTransactionUi ui;
    Transactor transactor{Endpoint{argv[1], uint16_t(std::atoi(argv[2]))}, ui};
    test::ScriptedPrompts prompts;
    NoFields fields;
    Course course;
    course.number = std::atoi(EnvOr("PROBE_COURSE", "3101"));
    MainSelection selection;
    selection.studentNumber = std::atoi(EnvOr("PROBE_STUDENT", "100123456"));
    selection.password = EnvOr("PROBE_PASSWORD", "demo123");
    selection.entryIndex = std::atoi(argv[3]);
    CommandContext context{transactor, prompts, fields, &course, selection, dir.path() / "tmp"};
    const QString screenshot = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<ViewDlg*>(widget);
            if (!dialog || !dialog->isVisible() || shown)
                continue;
            shown = true;
            poll.stop();
            QPointer<ViewDlg> guarded(dialog);
            auto* label = FindControl<QLabel>(dialog, view_dlg::kMark);
            std::cout << json{{"mark", label ? label->text().toStdString() : ""}}.dump() << '\n';
            auto* files = FindControl<QComboBox>(dialog, view_dlg::kFileList);
            const int count = files ? files->count() : 0;
            for (int i = 0; i < count; ++i) {
                files->setCurrentIndex(i);
                if (const MarkedFile* file = dialog->view()->currentFile())
                    std::cout
                        << json{{"file", file->name},
                                {"annotations", Annotations(*file)},
                                {"drawing", Drawing(*file)}}
                               .dump(-1, ' ', false, json::error_handler_t::replace)
                        << '\n';
            }
            if (!screenshot.isEmpty()) {
                files->setCurrentIndex(0);
                dialog->resize(1000, 620);
                QTimer::singleShot(200, dialog, [guarded, screenshot] {
                    if (!guarded)
                        return;
                    guarded->grab().save(screenshot);
                    guarded->accept();
                });
            } else {
                dialog->accept();
            }
        }
    });
    poll.start(20);
    ViewMarked(context, nullptr);
    std::cout.flush();
    return shown ? 0 : 1;
}
