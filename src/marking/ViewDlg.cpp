#include "marking/ViewDlg.h"

#include "marking/MarkedPdf.h"
#include "marking/MarkedRequests.h"
#include "marking/SaveMarked.h"
#include "protocol/Windows1252.h"
#include "sourceview/SrcWnd.h"
#include "ui/DialogUnits.h"
#include "ui/DisplayText.h"
#include "ui/FitFixedTexts.h"
#include "ui/QtPrompts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

namespace tallyport {
namespace {

// The file list gives the focus back to the view when its drop-down closes.
class FileList : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> onCloseUp;

protected:
    void hidePopup() override {
        QComboBox::hidePopup();
        if (onCloseUp)
            onCloseUp();
    }
};

template <typename T> T* Control(T* control, int id, const QRect& rect) {
    SetControlId(control, id);
    control->setGeometry(rect);
    return control;
}

} // namespace

ViewDlg::ViewDlg(QWidget* parent, CommandContext& context, MarkedSubmission submission,
                 int32_t entryIndex, int32_t maxMark)
    : QDialog(parent), context_(context), submission_(std::move(submission)),
      entryIndex_(entryIndex), maxMark_(maxMark) {
    setWindowTitle(QStringLiteral("View"));
    setFont(DialogFont());
    setSizeGripEnabled(false);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint | Qt::WindowSystemMenuHint);
    const DialogUnits du(font());
    resize(du.size(516, 288));

    // The source view takes the place and id of the template's placeholder.
    view_ = Control(new SrcWnd(this), view_dlg::kView, du.rect(8, 8, 500, 250));
    fileLabel_ = Control(new QLabel(QStringLiteral("&File:"), this), view_dlg::kFileLabel,
                         du.rect(8, 269, 22, 8));
    // The template's 70 units of height include the drop-down; the closed list is its own height.
    auto* fileList = new FileList(this);
    fileList_ =
        Control<QComboBox>(fileList, view_dlg::kFileList,
                           QRect(du.x(30), du.y(267), du.x(150), fileList->sizeHint().height()));
    fileList_->setEditable(false);
    fileLabel_->setBuddy(fileList_);
    mark_ = Control(new QLabel(QStringLiteral("Mark:"), this), view_dlg::kMark,
                    du.rect(223, 269, 50, 8));
    mark_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    marker_ = Control(new QPushButton(QStringLiteral("&Marker"), this), view_dlg::kMarker,
                      du.rect(342, 266, 50, 14));
    save_ = Control(new QPushButton(QStringLiteral("&Save"), this), view_dlg::kSave,
                    du.rect(400, 266, 50, 14));
    ok_ = Control(new QPushButton(QStringLiteral("&OK"), this), view_dlg::kOk,
                  du.rect(458, 266, 50, 14));
    // Enter presses the focused button; OK is the default only while no button has the focus.
    for (QPushButton* button : {marker_, save_, ok_})
        button->setAutoDefault(true);
    ok_->setDefault(true);

    view_->SetFile(&submission_, 0);
    mark_->setText(MarkText());
    if (!submission_.IsMarked())
        marker_->hide();
    for (int32_t i = 0; i < submission_.shownFileCount(); ++i)
        fileList_->addItem(DisplayText(submission_.FileAt(i)->name));
    fileList_->setCurrentIndex(submission_.shownFileCount() == 0 ? -1 : 0);

    connect(fileList_, &QComboBox::currentIndexChanged, this, &ViewDlg::OnFileSelected);
    fileList->onCloseUp = [this] { view_->setFocus(); };
    connect(marker_, &QPushButton::clicked, this, &ViewDlg::OnMarker);
    connect(save_, &QPushButton::clicked, this, &ViewDlg::OnSave);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(view_, fileList_);
    view_->setFocus();
    FitFixedTexts(this);
}

ViewDlg::~ViewDlg() {
    // The children outlive this body: keep their last signals and close-up from reaching a
    // dialog that is half destroyed.
    fileList_->disconnect(this);
    static_cast<FileList*>(fileList_)->onCloseUp = nullptr;
}

QString ViewDlg::MarkText() const {
    if (!submission_.IsMarked())
        return QStringLiteral("Submitted");
    return FromBytes(FormatMessage("Mark: %d/%d", submission_.marking->mark, maxMark_));
}

void ViewDlg::OnFileSelected(int index) {
    if (index != -1)
        view_->SetFile(&submission_, index);
}

void ViewDlg::OnMarker() {
    const std::string markerId =
        submission_.marking ? submission_.marking->markerId : std::string();
    const NetMessage request =
        BuildMarkerNameRequest(context_.course ? context_.course->number : 0, markerId);
    StatusCode status = status::kSuccess;
    std::optional<NetMessage> reply =
        context_.transactor.Transact(request, status, kMarkerNameTitle);
    std::optional<MarkerName> name;
    if (reply)
        name = ReadMarkerNameReply(*reply);
    // The server's texts are Windows-1252, the message UTF-8.
    if (name)
        context_.prompts.Message(FormatMessage("Your assignment was marked by %s\n<%s>",
                                               Windows1252ToUtf8(name->name).c_str(),
                                               Windows1252ToUtf8(name->about).c_str()),
                                 Buttons::Ok, Icon::Information);
    else // no reply (the transaction has shown its own message) or one without the two texts
        context_.prompts.Message(
            FormatMessage("Your assignment was marked by %s", Windows1252ToUtf8(markerId).c_str()),
            Buttons::Ok, Icon::Information);
}

void ViewDlg::OnSave() {
    const std::optional<std::string> folder = context_.prompts.ChooseFolder(kSaveFolderTitle);
    if (!folder || folder->empty())
        return;
    const MarkedDocumentWriter writePdf = [this](const std::filesystem::path& path,
                                                 const MarkedSubmission& submission) {
        return WriteMarkedPdf(path, submission, maxMark_);
    };
    const SaveResult result = SaveMarkedSubmission(submission_, *folder, entryIndex_, writePdf);
    const std::string message = SaveResultMessage(result) + SavedDocumentNote(result);
    if (result.problems.empty())
        context_.prompts.Message(message, Buttons::OkCancel, Icon::Exclamation);
    else
        context_.prompts.Message(message, Buttons::Ok, Icon::Error);
}

void ViewDlg::Layout() {
    if (!view_ || !ok_)
        return;
    const int w = width();
    const int h = height();
    const int mx = view_->x();
    const int my = view_->y();
    const int bw = ok_->width();
    const int bh = ok_->height();
    const int okX = w - bw - mx;
    const int rowY = h - bh - my;
    ok_->setGeometry(okX, rowY, bw, bh);
    save_->setGeometry(okX - bw - mx, rowY, bw, bh);
    marker_->setGeometry(okX - 2 * (bw + mx), rowY, bw, bh);
    view_->setGeometry(mx, my, w - 2 * mx, h - 3 * my - bh);
    for (QWidget* control : {static_cast<QWidget*>(fileLabel_), static_cast<QWidget*>(fileList_),
                             static_cast<QWidget*>(mark_)})
        control->move(control->x(), h - my - bh + (bh - control->height()) / 2);
}

void ViewDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout();
}

} // namespace tallyport
