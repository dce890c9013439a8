#pragma once

// Services for a module driven by a benchmark: no dialogs, no sound.

#include "core/SoundPlayer.h"
#include "core/UserInteraction.h"

// Answers every question with No and cancels every dialog.
class NullInteraction final : public UserInteraction {
public:
    MessageAnswer showMessage(QWidget*, const QString&, const QString&, MessageButtons, MessageIcon) override
    {
        return MessageAnswer::No;
    }
    QString askSaveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    QString askOpenFileName(QWidget*, const FileDialogRequest&) override { return {}; }
    bool askPrinterSetup(QWidget*, QPrinter&) override { return false; }
    ReportOutputChoice askReportOutput(QWidget*, const QString&, const QPrinter&) override { return {}; }
    void showPrintPreview(QWidget*, QPrinter&, const std::function<void(QPrinter&)>&) override { }
};

class SilentSound final : public SoundPlayer {
public:
    void play(const QString&) override { }
};
