// Entry point of tallyport-submit; the start-up sequence lives in app/SubmitApp.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}
