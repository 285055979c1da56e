// The five commands behind the main dialog's buttons. The main dialog runs the command preamble
// and then calls the command with the validated selection; the application wires the real
// commands (app/Commands.cpp), tests wire their own.
#pragma once

#include "command/CommandContext.h"

#include <functional>

class QWidget;

namespace tallyport {

using MainCommand = std::function<void(CommandContext& context, QWidget* parent)>;

struct MainDlgCommands {
    MainCommand registerAccount; // 1000, Register
    MainCommand updateAccount;   // 1001, Update Info
    MainCommand submit;          // 1002, Submit
    MainCommand viewMarked;      // 1003, View
    MainCommand downloadExam;    // 1004, Exam
};

} // namespace tallyport
