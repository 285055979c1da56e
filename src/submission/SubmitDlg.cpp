#include "submission/SubmitDlg.h"

#include "protocol/EightBitText.h"
#include "protocol/Utf8.h"
#include "protocol/Windows1252.h"
#include "submission/ChooseSubmitFile.h"
#include "submission/LoadSubmissionFile.h"
#include "submission/SplitPath.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/FitFixedTexts.h"
#include "ui/Prompts.h"
#include "ui/QtPrompts.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextDocument>

#include <algorithm>
#include <functional>

namespace tallyport {
namespace {

// A drop-down list that says when its list closes up.
class FileBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> onCloseUp;

    void hidePopup() override {
        QComboBox::hidePopup();
        if (onCloseUp)
            onCloseUp();
    }
};

// Text for the view: up to the first zero byte, read as the page reads it (UTF-8 when the bytes
// are valid UTF-8, else Windows-1252), with CR LF and lone CR as breaks. Pure ASCII counts as
// UTF-8, so that what the student types into it is saved as this platform writes text.
QString ViewText(std::string_view bytes, bool& utf8) {
    bytes = bytes.substr(0, bytes.find('\0'));
    utf8 = IsValidUtf8(bytes);
    QString text = QString::fromStdString(EightBitTextToUtf8(bytes));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The view's whole text with CR LF line breaks, encoded as its bytes were decoded (characters
// Windows-1252 cannot hold become "?").
std::string ViewBytes(const QPlainTextEdit* view, bool utf8) {
    const QString raw = view->document()->toRawText();
    QString text;
    text.reserve(raw.size() + raw.size() / 16);
    for (const QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == QLatin1Char('\n'))
            text += QStringLiteral("\r\n");
        else
            text += c;
    }
    if (utf8) {
        const QByteArray bytes = text.toUtf8();
        return std::string(bytes.constData(), std::size_t(bytes.size()));
    }
    std::string bytes;
    bytes.reserve(std::size_t(text.size()));
    for (const char32_t c : text.toUcs4())
        bytes.push_back(char(UnicodeToWindows1252(c).value_or('?')));
    return bytes;
}

QLabel* MakeLabel(QWidget* dialog, int id, const char* text, const QRect& where) {
    auto* label = new QLabel(QString::fromLatin1(text), dialog);
    SetControlId(label, id);
    label->setGeometry(where);
    return label;
}

QPushButton* MakeButton(QWidget* dialog, int id, const char* text, const QRect& where) {
    auto* button = new QPushButton(QString::fromLatin1(text), dialog);
    SetControlId(button, id);
    button->setGeometry(where);
    // Enter presses the focused button; Submit is the default only while no button has the focus.
    button->setAutoDefault(true);
    return button;
}

bool HasAddAndDelete(RequirementKind kind) {
    return kind == RequirementKind::AnyFiles || kind == RequirementKind::NamedFiles;
}

} // namespace

SubmitDlg::SubmitDlg(const RequiredFileSet& set, SubmissionEntries& entries, Prompts& prompts,
                     QWidget* parent)
    : QDialog(parent), set_(set), entries_(entries), prompts_(prompts) {
    setWindowTitle(QStringLiteral("Submit"));
    setFont(DialogFont());
    const DialogUnits du(font());
    resize(du.size(516, 303));

    view_ = new QPlainTextEdit(this);
    SetControlId(view_, submitid::kView);
    view_->setGeometry(du.rect(8, 8, 500, 247));
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont viewFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    viewFont.setWeight(QFont::Normal);
    view_->setFont(viewFont);

    fileLabel_ = MakeLabel(this, submitid::kFileLabel, "&File:", du.rect(8, 266, 22, 8));
    auto* fileBox = new FileBox(this);
    fileBox->onCloseUp = [this] { view_->setFocus(); };
    fileBox_ = fileBox;
    SetControlId(fileBox_, submitid::kFileBox);
    // The template's height includes the dropped list; the closed box is as tall as it needs.
    fileBox_->setGeometry(du.x(30), du.y(264), du.x(108), fileBox_->sizeHint().height());
    fileLabel_->setBuddy(fileBox_);
    add_ = MakeButton(this, submitid::kAdd, "&Add", du.rect(30, 281, 50, 14));
    delete_ = MakeButton(this, submitid::kDelete, "&Delete", du.rect(88, 281, 50, 14));

    tabLabel_ = MakeLabel(this, submitid::kTabLabel, "&Tabstop:", du.rect(150, 271, 28, 8));
    slider_ = new QSlider(Qt::Horizontal, this);
    SetControlId(slider_, submitid::kTabSlider);
    slider_->setGeometry(du.rect(178, 263, 100, 21));
    slider_->setRange(0, 8);
    slider_->setTickInterval(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setPageStep(1);
    tabLabel_->setBuddy(slider_);
    zeroLabel_ = MakeLabel(this, submitid::kZeroLabel, "0", du.rect(182, 287, 8, 8));
    eightLabel_ = MakeLabel(this, submitid::kEightLabel, "8", du.rect(266, 287, 8, 8));
    zeroLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    eightLabel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    cancel_ = MakeButton(this, submitid::kCancel, "&Cancel", du.rect(458, 263, 50, 14));
    submit_ = MakeButton(this, submitid::kSubmit, "&Submit", du.rect(458, 281, 50, 14));
    submit_->setDefault(true);

    connect(fileBox_, &QComboBox::currentIndexChanged, this, &SubmitDlg::OnFileChosen);
    connect(slider_, &QSlider::valueChanged, this, &SubmitDlg::OnTabWidthMoved);
    connect(add_, &QPushButton::clicked, this, &SubmitDlg::Add);
    connect(delete_, &QPushButton::clicked, this, &SubmitDlg::Delete);
    connect(cancel_, &QPushButton::clicked, this, &SubmitDlg::reject);
    connect(submit_, &QPushButton::clicked, this, &SubmitDlg::accept);
    FitFixedTexts(this);
    PlaceScaleLabels();
}

SubmitDlg::~SubmitDlg() {
    // The base class hides the dialog and the children go after this object: their last
    // signals and the file box's close-up must not reach it.
    static_cast<FileBox*>(fileBox_)->onCloseUp = nullptr;
    fileBox_->disconnect(this);
    slider_->disconnect(this);
}

void SubmitDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Open();
}

void SubmitDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void SubmitDlg::Open() {
    slider_->setValue(7);
    const bool addAndDelete = HasAddAndDelete(set_.kind);
    for (QPushButton* button : {add_, delete_}) {
        button->setVisible(addAndDelete);
        button->setEnabled(addAndDelete);
    }
    FillFileBox();
    ShowEntry(0);
    if (addAndDelete)
        add_->setFocus();
    else
        view_->setFocus();
}

void SubmitDlg::FillFileBox() {
    filling_ = true;
    fileBox_->clear();
    if (set_.kind == RequirementKind::NamedFiles) {
        for (const std::string& name : set_.names)
            fileBox_->addItem(DisplayText(name));
    } else {
        for (const auto& entry : entries_) // names as the student's disk spells them
            fileBox_->addItem(entry ? DisplayText(entry->name) : QString());
    }
    filling_ = false;
}

void SubmitDlg::ShowEntry(int index) {
    current_ = index;
    const bool present = index >= 0 && index < int(entries_.size()) && entries_[std::size_t(index)];
    if (!present) {
        bool ignored = false;
        view_->setPlainText(ViewText(kEmptySlotText, ignored));
    } else if (const SubmissionFile& entry = *entries_[std::size_t(index)];
               entry.contentKind == ContentKind::NonAscii) {
        view_->setPlainText(FromBytes(kNonAsciiText));
    } else {
        view_->setPlainText(ViewText(entry.content, shownAsUtf8_));
        slider_->setValue(entry.tabWidth);
        SetTabStops(entry.tabWidth);
    }
    view_->document()->setModified(false);
    filling_ = true;
    fileBox_->setCurrentIndex(index);
    filling_ = false;
}

void SubmitDlg::SaveCurrent() {
    if (current_ < 0 || current_ >= int(entries_.size()) || !entries_[std::size_t(current_)])
        return;
    SubmissionFile& entry = *entries_[std::size_t(current_)];
    if (view_->document()->isModified() && entry.contentKind != ContentKind::NonAscii) {
        entry.content = ViewBytes(view_, shownAsUtf8_);
        view_->document()->setModified(false);
    }
    entry.tabWidth = slider_->value();
}

void SubmitDlg::SetTabStops(int width) {
    // A width of 0 (or less) still gives each tab one character, so no text runs together.
    const qreal character = QFontMetricsF(view_->font()).averageCharWidth();
    view_->setTabStopDistance(std::max(width, 1) * character);
}

void SubmitDlg::OnFileChosen(int index) {
    if (filling_ || index < 0 || index >= fileBox_->count() || index == current_)
        return;
    SaveCurrent();
    ShowEntry(index);
}

void SubmitDlg::OnTabWidthMoved(int width) {
    // New tab stops without moving the text: the first visible line stays where it was.
    QScrollBar* bar = view_->verticalScrollBar();
    const int firstLine = bar->value();
    view_->setUpdatesEnabled(false);
    SetTabStops(width);
    bar->setValue(0);
    bar->setValue(firstLine);
    view_->setUpdatesEnabled(true);
    view_->viewport()->update();
}

void SubmitDlg::Add() {
    view_->setFocus();
    SaveCurrent();
    const bool named = set_.kind == RequirementKind::NamedFiles;
    int target = 0;
    if (named) {
        const auto empty = [this](int i) { return !entries_[std::size_t(i)].has_value(); };
        target = -1;
        if (current_ >= 0 && current_ < int(entries_.size()) && empty(current_)) {
            target = current_;
        } else {
            for (int i = 0; i < int(entries_.size()) && target < 0; ++i)
                target = empty(i) ? i : -1;
        }
        if (target < 0) {
            prompts_.Message(
                "You've already added all the necessary files for this assigment.  You "
                "can now submit it.",
                Buttons::Ok, Icon::Information);
            return;
        }
    }
    const std::optional<std::string> path = ChooseSubmitFile(prompts_, set_, target);
    if (!path)
        return;
    const SplitPathResult split = SplitPath(*path);
    std::optional<SubmissionFile> file =
        LoadSubmissionFile(split.folder, split.fileName, set_, target);
    if (!file) // it passed the open test a moment ago
        prompts_.Message(FormatMessage("Unable to open file %s", path->c_str()), Buttons::Ok,
                         Icon::Error);
    if (named) {
        entries_[std::size_t(target)] = std::move(file);
        ShowEntry(target);
    } else if (file) {
        const QString name = DisplayText(file->name);
        entries_.push_back(std::move(file));
        filling_ = true;
        fileBox_->addItem(name);
        filling_ = false;
        ShowEntry(int(entries_.size()) - 1);
    }
}

void SubmitDlg::Delete() {
    view_->setFocus();
    if (current_ < 0 || current_ >= int(entries_.size()))
        return;
    if (set_.kind == RequirementKind::NamedFiles) {
        entries_[std::size_t(current_)].reset();
    } else {
        entries_.erase(entries_.begin() + current_);
        filling_ = true;
        fileBox_->removeItem(current_);
        filling_ = false;
    }
    const bool anyLeft = std::any_of(entries_.begin(), entries_.end(),
                                     [](const auto& entry) { return entry.has_value(); });
    if (!anyLeft) {
        reject();
        return;
    }
    // After the last entry of a list went, the new last one is shown.
    ShowEntry(std::min(current_, int(entries_.size()) - 1));
}

void SubmitDlg::accept() {
    SaveCurrent();
    if (set_.kind == RequirementKind::NamedFiles) {
        const auto empty = std::find_if(entries_.begin(), entries_.end(),
                                        [](const auto& entry) { return !entry.has_value(); });
        if (empty != entries_.end()) {
            prompts_.Message("You haven't loaded one of the required files.", Buttons::Ok,
                             Icon::None);
            ShowEntry(int(empty - entries_.begin()));
            return;
        }
    }
    QDialog::accept();
}

void SubmitDlg::LayOut() {
    const int W = width();
    const int H = height();
    const int bw = submit_->width();
    const int bh = submit_->height();
    const int mx = view_->x();
    const int my = view_->y();
    const int myAndHalf = 3 * my / 2;
    const auto moveY = [](QWidget* control, int y) { control->move(control->x(), y); };

    submit_->setGeometry(W - bw - mx, H - bh - my, bw, bh);
    cancel_->setGeometry(W - bw - mx, H - 2 * bh - my - my / 2, bw, bh);
    view_->setGeometry(mx, my, std::max(0, W - 2 * mx), std::max(0, H - 2 * bh - 7 * my / 2));

    const int fileBoxHeight = fileBox_->height();
    moveY(fileBox_, H - myAndHalf - fileBoxHeight - bh);
    moveY(fileLabel_, H - bh - myAndHalf - (fileBoxHeight + fileLabel_->height()) / 2);
    add_->setGeometry(fileBox_->x(), H - bh - my, bw, bh);
    delete_->setGeometry(fileBox_->x() + bw + mx, H - bh - my, bw, bh);

    const int zeroHeight = zeroLabel_->height();
    moveY(slider_, H - myAndHalf - slider_->height() - zeroHeight);
    moveY(tabLabel_, H - zeroHeight - myAndHalf - (slider_->height() + tabLabel_->height()) / 2);
    moveY(zeroLabel_, H - zeroHeight - my);
    moveY(eightLabel_, H - eightLabel_->height() - my);
    PlaceScaleLabels();
}

void SubmitDlg::PlaceScaleLabels() {
    // Where the style draws the slider's first and last tick: the handle's centre at the two
    // ends of the groove.
    QStyleOptionSlider option;
    option.initFrom(slider_);
    option.orientation = slider_->orientation();
    option.minimum = slider_->minimum();
    option.maximum = slider_->maximum();
    option.tickPosition = slider_->tickPosition();
    option.tickInterval = slider_->tickInterval();
    const int handle = slider_->style()->pixelMetric(QStyle::PM_SliderLength, &option, slider_);
    const auto centreUnder = [&](QLabel* label, int value) {
        const int tick = QStyle::sliderPositionFromValue(slider_->minimum(), slider_->maximum(),
                                                         value, slider_->width() - handle) +
                         handle / 2;
        label->move(slider_->x() + tick - label->width() / 2, label->y());
    };
    centreUnder(zeroLabel_, slider_->minimum());
    centreUnder(eightLabel_, slider_->maximum());
}

} // namespace tallyport
