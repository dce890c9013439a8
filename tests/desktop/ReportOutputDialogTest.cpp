// The report output dialog the data sheet (and, without a printer, the graph) asks where the pages
// go: the PDF file it proposes is in a folder that exists, and the file chosen last is proposed again.

#include "desktop/QtUserInteraction.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Sets an environment variable for as long as it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : name_(name)
        , had_(qEnvironmentVariableIsSet(name))
        , before_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (had_)
            qputenv(name_, before_);
        else
            qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray before_;
};

// Opens the dialog as Print Data Sheet does; answer sees it while it waits for the user, and presses
// OK. Returns what the dialog proposed in its PDF file box.
QString proposeAndAnswer(QtUserInteraction& ui, const QString& title, const std::function<void(QDialog&)>& answer,
    ReportOutputChoice* choice = nullptr)
{
    QString proposed;
    QTimer waiter;
    waiter.setInterval(10);
    QObject::connect(&waiter, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != "ReportOutputDialog")
            return;
        waiter.stop();
        proposed = QDir::fromNativeSeparators(dialog->findChild<QLineEdit*>("PdfPath")->text());
        answer(*dialog);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    waiter.start();
    QPrinter printer;
    const ReportOutputChoice made = ui.askReportOutput(nullptr, title, printer);
    if (choice)
        *choice = made;
    return proposed;
}

void choosePdf(QDialog& dialog, const QString& path)
{
    dialog.findChild<QRadioButton*>("ToPdf")->setChecked(true);
    dialog.findChild<QLineEdit*>("PdfPath")->setText(QDir::toNativeSeparators(path));
}

TEST(ReportOutputDialog, ProposesAPdfInAFolderThatExistsAndRemembersTheFileChosen)
{
    // A user whose home has no Documents folder.
    QTemporaryDir home;
    const ScopedVariable homeVariable("HOME", home.path().toLocal8Bit());
    const ScopedVariable configVariable("XDG_CONFIG_HOME", home.filePath(".config").toLocal8Bit());
    ASSERT_FALSE(QFileInfo::exists(home.filePath("Documents")));
    QtUserInteraction ui;
    const QString sheet = QStringLiteral("Sound Level Data Sheet");

    ReportOutputChoice choice;
    const QString first = proposeAndAnswer(
        ui, sheet, [](QDialog& dialog) { dialog.findChild<QRadioButton*>("ToPdf")->setChecked(true); }, &choice);
    EXPECT_EQ(first, QDir(home.path()).filePath(sheet + ".pdf"));
    EXPECT_EQ(choice.destination, ReportDestination::PdfFile);
    EXPECT_EQ(choice.pdfPath, first);

    // Another folder and name: proposed again for the same report, its folder for another one.
    ASSERT_TRUE(QDir(home.path()).mkpath("noise/monday"));
    const QString chosen = home.filePath("noise/monday/loading bay");
    proposeAndAnswer(
        ui, sheet, [&](QDialog& dialog) { choosePdf(dialog, chosen); }, &choice);
    EXPECT_EQ(choice.pdfPath, chosen + ".pdf") << "a name without a suffix gets .pdf";
    EXPECT_EQ(proposeAndAnswer(ui, sheet, [](QDialog&) {}), chosen + ".pdf");
    EXPECT_EQ(proposeAndAnswer(ui, "Data Analyze", [](QDialog&) {}), home.filePath("noise/monday/Data Analyze.pdf"));

    // A folder that has gone since is proposed no more.
    ASSERT_TRUE(QDir(home.filePath("noise")).removeRecursively());
    EXPECT_EQ(proposeAndAnswer(ui, sheet, [](QDialog&) {}), QDir(home.path()).filePath(sheet + ".pdf"));
}

} // namespace
