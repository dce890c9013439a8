#pragma once

// The main window with the real about box and help engine, as main() puts them together, on a test
// module without tables. The engine can be pointed at another library, and the help file the build
// compiled is copied into the module's program folder.

#include "desktop/ChosenPrinter.h"
#include "shell/DecimoraMain.h"
#include "shell/HTMLHelp_Decl.h"
#include "shell/about.h"
#include "support/TestModule.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

struct HelpMenuFrame {
    explicit HelpMenuFrame(const QString& helpLibrary = QString::fromLatin1(ChmLibraryName), bool withHelpFile = true)
        : help(helpLibrary)
    {
        QFile report(test.folder.filePath("Decimora_en.rav"));
        if (!report.open(QIODevice::WriteOnly))
            ADD_FAILURE() << "cannot create the report definition";
        if (withHelpFile && !QFile::copy(QStringLiteral(DECIMORA_HELP_FILE), helpFile()))
            ADD_FAILURE() << "cannot copy the help file " << DECIMORA_HELP_FILE;

        FrameWindowsAndCommands windowsAndCommands;
        windowsAndCommands.createAboutBox = [](TForm6& m) { return new TForm3(m); };
        windowsAndCommands.showHelp = [this](TForm6& m, QWidget* owner) { ShowHelp(help, m, owner); };
        windowsAndCommands.closeHelpWindows
            = [this](TForm6& m, QWidget* owner) { return CloseHelpWindows(help, m, owner); };
        frame = std::make_unique<TForm1>(
            ShellServices {
                test.ui,
                printer,
                QStringLiteral("decimora"),
                data.filePath("lock"),
                data.filePath("Decimora.mdb"),
                [this]() -> TForm6& { return *test.module; },
                {},
            },
            windowsAndCommands);
        // The frame's one-second tick comes round while any box is open.
        test.ui.everySecond.push_back([shown = QPointer<TForm1>(frame.get())] {
            if (shown)
                shown->Timer1Timer();
        });
    }

    bool start()
    {
        if (!frame->FormCreate())
            return false;
        frame->StartModule();
        frame->show();
        return true;
    }

    QString helpFile() const { return test.folder.filePath(QString::fromLatin1(HelpFileName)); }
    TForm6& module() { return *test.module; }

    QTemporaryDir data;
    TestModule test;
    ChosenPrinter printer;
    HtmlHelpEngine help;
    // Declared last: the frame and its windows go before the engine and the module.
    std::unique_ptr<TForm1> frame;
};
