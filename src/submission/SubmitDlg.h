// SubmitDlg (template 104): the student reviews the files of a submission one at a time in an
// editable view, picks them in the file box, adds and deletes them, sets each file's tab width
// with the slider, and closes with Submit or Cancel. The list belongs to the submit command; the
// dialog edits it in place and may be shown again on it after a failed upload.
#pragma once

#include "submission/RequiredFileSet.h"
#include "submission/SubmissionFile.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;

namespace tallyport {

class Prompts;

namespace submitid {
inline constexpr int kTemplate = 104;
inline constexpr int kSubmit = 1;
inline constexpr int kCancel = 2;
inline constexpr int kView = 1020;
inline constexpr int kTabSlider = 1021;
inline constexpr int kFileLabel = 1022;
inline constexpr int kFileBox = 1023;
inline constexpr int kAdd = 1027;
inline constexpr int kDelete = 1028;
inline constexpr int kTabLabel = 1031;
inline constexpr int kZeroLabel = 1032;
inline constexpr int kEightLabel = 1033;
} // namespace submitid

inline constexpr std::string_view kEmptySlotText =
    "You haven't loaded this file yet.\r\nPress the ADD button.";
inline constexpr std::string_view kNonAsciiText = "This is a non-ASCII file which can't be viewed.";

class SubmitDlg : public QDialog {
    Q_OBJECT
public:
    SubmitDlg(const RequiredFileSet& set, SubmissionEntries& entries, Prompts& prompts,
              QWidget* parent = nullptr);
    ~SubmitDlg() override;

    int current() const { return current_; }

    // Submit: saves the current entry; for NamedFiles every slot must be loaded.
    void accept() override;

protected:
    // Each showing starts afresh: the file box is refilled and entry 0 is shown.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Open();
    void FillFileBox();
    void ShowEntry(int index);
    void SaveCurrent();
    void SetTabStops(int width);
    void OnFileChosen(int index);
    void OnTabWidthMoved(int width);
    void Add();
    void Delete();
    void LayOut();
    void PlaceScaleLabels(); // "0" and "8" centred under the slider's end ticks

    const RequiredFileSet& set_;
    SubmissionEntries& entries_;
    Prompts& prompts_;
    int current_ = 0;
    bool shownAsUtf8_ = false; // how the current entry's bytes were turned into text
    bool filling_ = false;     // the file box is being refilled: its signals are not choices

    QPlainTextEdit* view_;
    QSlider* slider_;
    QComboBox* fileBox_;
    QLabel* fileLabel_;
    QLabel* tabLabel_;
    QLabel* zeroLabel_;
    QLabel* eightLabel_;
    QPushButton* add_;
    QPushButton* delete_;
    QPushButton* cancel_;
    QPushButton* submit_;
};

} // namespace tallyport
