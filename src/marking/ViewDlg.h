// The view dialog (template 105): one file of a marked submission at a time in the source view,
// the file list, the mark, the Marker button (who marked it) and Save (texts and page pictures
// into a folder the student chooses, and for marked work one PDF of it all).
#pragma once

#include "command/CommandContext.h"
#include "marking/MarkedSubmission.h"

#include <QDialog>

#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;

namespace tallyport {

class SrcWnd;

// Control ids of template 105.
namespace view_dlg {
inline constexpr int kView = 1020;
inline constexpr int kFileLabel = 1022;
inline constexpr int kFileList = 1023;
inline constexpr int kMark = 1024;
inline constexpr int kSave = 1025;
inline constexpr int kMarker = 1030;
inline constexpr int kOk = 1;
} // namespace view_dlg

class ViewDlg : public QDialog {
    Q_OBJECT

public:
    // `context` gives the connection, the prompts and the course for Marker and Save.
    ViewDlg(QWidget* parent, CommandContext& context, MarkedSubmission submission,
            int32_t entryIndex, int32_t maxMark);
    ~ViewDlg() override;

    // "Submitted" for unmarked work (or without a marking record), else "Mark: %d/%d".
    QString MarkText() const;
    void OnMarker();
    void OnSave();
    // Places the buttons in a row at the bottom right and lets the view fill the rest.
    void Layout();

    const MarkedSubmission& submission() const { return submission_; }
    SrcWnd* view() const { return view_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnFileSelected(int index);

    CommandContext& context_;
    MarkedSubmission submission_;
    int32_t entryIndex_ = 0;
    int32_t maxMark_ = 1;
    SrcWnd* view_ = nullptr;
    QComboBox* fileList_ = nullptr;
    QLabel* fileLabel_ = nullptr;
    QLabel* mark_ = nullptr;
    QPushButton* marker_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* ok_ = nullptr;
};

} // namespace tallyport
