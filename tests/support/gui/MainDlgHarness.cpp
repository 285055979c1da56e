#include "support/gui/MainDlgHarness.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace tallyport::test {

Course MakeCourse(int32_t number, std::string name, std::string_view components,
                  std::string_view statuses, std::string_view kinds) {
    Course course;
    course.number = number;
    course.name = std::move(name);
    ParseComponentSpecification(components, course);
    for (int c = 0; c < course.componentCount; ++c)
        for (int e = 0; e < course.components[c].elementCount; ++e)
            for (int s = 0; s < course.components[c].sectionCount; ++s)
                course.label.push_back("Sec " + std::to_string(s + 1));
    course.entryCount = int32_t(course.label.size());
    if (statuses.size() != course.label.size())
        throw std::invalid_argument("one status letter per entry");
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        course.status.push_back(statuses[i]);
        course.kind.push_back(i < kinds.size() ? kinds[i] : 'A');
    }
    return course;
}

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts)
        list << QString::fromLatin1(text);
    return list;
}

MainDlgHarness::MainDlgHarness(CourseCatalogue catalogue, int32_t configuredCourse, bool labMode)
    : catalogue_(std::move(catalogue)) {
    auto record = [this](int button) {
        return [this, button](CommandContext& context, QWidget* parent) {
            calls.push_back({button, context.course, context.selection, parent});
            if (onCommand)
                onCommand(context);
        };
    };
    MainDlgCommands commands{record(mainid::kRegister), record(mainid::kUpdate),
                             record(mainid::kSubmit), record(mainid::kView), record(mainid::kExam)};
    dialog_ = std::make_unique<MainDlg>(MainDlgSetup{
        catalogue_, configuredCourse, transactor_, prompts, std::move(commands), {}, labMode});
}

MainDlgHarness::~MainDlgHarness() = default;

void MainDlgHarness::Choose(int listId, int index) {
    auto* list = control<QComboBox>(listId);
    if (!list || !list->isEnabled())
        throw std::logic_error("list " + std::to_string(listId) + " cannot be chosen from");
    list->setCurrentIndex(index);
    emit list->activated(index);
}

QStringList MainDlgHarness::Items(int listId) const {
    QStringList items;
    auto* list = control<QComboBox>(listId);
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

int MainDlgHarness::Selected(int listId) const {
    return control<QComboBox>(listId)->currentIndex();
}

bool MainDlgHarness::Enabled(int id) const {
    return control(id)->isEnabled();
}

bool MainDlgHarness::Shown(int id) const {
    return !control(id)->isHidden();
}

void MainDlgHarness::Click(int buttonId) {
    QTest::mouseClick(control<QPushButton>(buttonId), Qt::LeftButton);
}

} // namespace tallyport::test
