#pragma once

// Services for a module with nobody to answer and nothing to hear: the command-line tool, programs
// without a display, benchmarks. A command that would need an answer gets the one that declines.

#include "core/SoundPlayer.h"
#include "core/UserInteraction.h"

#include <functional>
#include <utility>

class NullUserInteraction : public UserInteraction {
public:
    // Where a message's text and caption go instead of a box, if anywhere.
    using Teller = std::function<void(const QString& text, const QString& caption)>;

    explicit NullUserInteraction(Teller tell = {})
        : tell_(std::move(tell))
    {
    }

    // Ok for a message, No for a yes-or-no question, Cancel where that can be answered.
    MessageAnswer showMessage(
        QWidget*, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon) override
    {
        if (tell_)
            tell_(text, caption);
        switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::YesNoCancel:
            break;
        }
        return MessageAnswer::Cancel;
    }
    QString askSaveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    QString askOpenFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    bool askPrinterSetup(QWidget*, QPrinter&) override { return false; }
    ReportOutputChoice askReportOutput(QWidget*, const QString&, const QPrinter&) override { return {}; }
    void showPrintPreview(QWidget*, QPrinter&, const std::function<void(QPrinter&)>&) override { }

private:
    Teller tell_;
};

class SilentSoundPlayer final : public SoundPlayer {
public:
    void play(const QString&) override { }
};
