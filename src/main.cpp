// Entry point of tallyport-submit: the application object, then SubmitApp's start-up.
#include "app/AppIcon.h"
#include "app/Commands.h"
#include "app/SubmitApp.h"
#include "exam/ExamFolder.h"
#include "protocol/Configuration.h"
#include "protocol/TempFolder.h"
#include "ui/QtPrompts.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The executable's own name (a renamed copy or a link keeps its name) is every box's caption.
    const std::string name = tallyport::ApplicationNameFromPath(argc > 0 ? argv[0] : "");
    QApplication::setApplicationName(QString::fromLocal8Bit(name.c_str()));
    QApplication::setWindowIcon(tallyport::AppIcon());

    tallyport::QtPrompts prompts(QApplication::applicationName());
    tallyport::SubmitAppSetup setup;
    setup.applicationName = name;
    setup.endpoint = tallyport::DefaultEndpoint();
    setup.tempFolder = tallyport::DefaultTempFolder();
    setup.examFolder = tallyport::DefaultExamFolder();
    setup.commands = tallyport::MakeCommands();
    tallyport::SubmitApp submit(std::move(setup), prompts);
    return submit.Run();
}
