// The desktop client's transaction seams for the upload drivers: no windows, every message and
// failure status printed to standard error, and the time the last byte of a request went out
// (to tell the client's sending from the server's storing).
#pragma once

#include "protocol/Transaction.h"
#include "ui/Prompts.h"

#include <chrono>
#include <cstdio>

class QuietUi : public tallyport::TransactionUi {
public:
    std::chrono::steady_clock::time_point allSent{};
    void Open(std::string_view) override {}
    void SetBusy(bool) override {}
    bool Pump() override { return false; }
    void Progress(int64_t sent, int64_t total) override {
        if (sent == total && allSent == std::chrono::steady_clock::time_point{})
            allSent = std::chrono::steady_clock::now();
    }
    tallyport::RetryChoice ReportStatus(tallyport::StatusCode status) override {
        std::fprintf(stderr, "status %d\n", int(status));
        return tallyport::RetryChoice::Abort;
    }
    void Close() override {}
};

class QuietPrompts : public tallyport::Prompts {
public:
    tallyport::Answer Message(std::string_view text, tallyport::Buttons, tallyport::Icon) override {
        std::fprintf(stderr, "message: %.*s\n", int(text.size()), text.data());
        return tallyport::Answer::Ok;
    }
    std::optional<std::string> OpenFile(const tallyport::OpenFileRequest&) override { return {}; }
    std::optional<std::string> ChooseFolder(std::string_view) override { return {}; }
};
