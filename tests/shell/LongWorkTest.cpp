// Long work from the frame (an export, a data sheet, a load) shows its progress and keeps the program
// answering: its events are handled on the way, while the other windows wait. How long a stretch
// without events lasts is measured in bench/ (bench_export, bench_print, bench_analysis).

#include "ProgramCopy.h"
#include "shell/ExportProgressWindow.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>

namespace {

// Counts the turns of the event loop while it lives: a timer of interval 0 fires at each.
class EventTurns {
public:
    EventTurns()
    {
        tick_.setInterval(0);
        QObject::connect(&tick_, &QTimer::timeout, [this] { ++turns; });
        tick_.start();
    }
    int turns = 0;

private:
    QTimer tick_;
};

// Notes every progress window that is shown, and whether it kept the other windows waiting.
class ShownWindows final : public QObject {
public:
    ShownWindows() { qApp->installEventFilter(this); }
    ~ShownWindows() override { qApp->removeEventFilter(this); }
    ShownWindows(const ShownWindows&) = delete;
    ShownWindows& operator=(const ShownWindows&) = delete;

    QStringList names;
    bool allModal = true;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow()
            && (qobject_cast<ExportProgressWindow*>(widget) || qobject_cast<QProgressDialog*>(widget))) {
            names << widget->metaObject()->className();
            allModal = allModal && widget->windowModality() == Qt::ApplicationModal;
        }
        return false;
    }
};

void fillAnalysisTable(ProgramCopy& copy, int count)
{
    int i = 0;
    QByteArray value;
    copy.module().LoadData->appendRows([&](RowToAppend& row) {
        if (i == count)
            return false;
        ++i;
        value = QByteArray::number(40 + i % 50) + ".5";
        row.recNo = i;
        row.text = { value, "A", "9:00:00", "12/9/2026" };
        return true;
    });
}

TEST(MainWindow, LongExportsAndPrintsShowTheirProgressAndHandleEventsOnTheWay)
{
    struct Case {
        const char* what;
        std::function<void(ProgramCopy&)> run;
        QString window;
    };
    const Case cases[] = {
        { ".xlsx export",
            [](ProgramCopy& c) {
                c.test.ui.saveFileNames.push_back(c.test.folder.filePath("long.xlsx"));
                c.frame->ExporttoExcel1->trigger();
            },
            "ExportProgressWindow" },
        { ".csv export",
            [](ProgramCopy& c) {
                c.test.ui.saveFileNames.push_back(c.test.folder.filePath("long.csv"));
                c.frame->ExporttoExcel1->trigger();
            },
            "ExportProgressWindow" },
        { "data sheet into a PDF",
            [](ProgramCopy& c) {
                c.test.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, c.test.folder.filePath("a.pdf") });
                c.frame->PrintDataSheet1->trigger();
            },
            "QProgressDialog" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        ASSERT_TRUE(copy.start());
        copy.frame->show();
        copy.frame->Open1->trigger();
        fillAnalysisTable(copy, 60000);
        copy.frame->Timer1Timer();
        const ShownWindows shown;
        const EventTurns events;

        test.run(copy);

        EXPECT_EQ(copy.messageTexts().size(), test.window == "QProgressDialog" ? 0 : 1) << "the export's own message";
        EXPECT_TRUE(shown.names.contains(test.window)) << shown.names.join(',').toStdString();
        EXPECT_TRUE(shown.allModal);
        EXPECT_GT(events.turns, 0) << "the program handled its events during the work";
    }
}

} // namespace
