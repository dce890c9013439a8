#pragma once

// The about box ("Form3"): the product picture, name and version, and what this machine is: the
// running system and its physical memory, read when the box opens. The main window sizes and places
// it and disables Help > About while it is open; every way of closing the box enables the command
// again.

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class TForm6;

inline constexpr char AboutBoxCaption[] = "About Decimora";
inline constexpr char AboutProductName[] = "Decimora";
inline constexpr char AboutVersion[] = "Version: 1.3 (Build 09.0105)";

// What the box says about the machine, as the system reports it.
struct SystemDescription {
    // The kernel's release as uname gives it, for example "6.1.0-18-amd64".
    QString kernelRelease;
    // The text of the os-release file (empty when the system has none).
    QString osRelease;
    // The machine's total physical memory in bytes.
    std::uint64_t totalPhysicalMemory = 0;
};

// Asks the running system.
SystemDescription DescribeThisSystem();

// "Linux " + the kernel's major version + " ( " + the distribution's name and release + " )".
QString SystemLineText(const SystemDescription& system);
// "Memory Available to Windows: %dKB", %d the total physical memory in whole KB.
QString MemoryLineText(std::uint64_t totalPhysicalBytes);

// Decodes JPEG data with libjpeg; a null image when the data is not a JPEG image it can read.
QImage DecodeJpeg(const QByteArray& data);
// The about box's product picture, decoded from the program's resources.
QImage AboutPicture();

class TForm3 : public QWidget {
    Q_OBJECT

public:
    explicit TForm3(TForm6& module, QWidget* parent = nullptr);

    // Fills the system and memory lines; the main window keeps its file commands off meanwhile.
    void FormCreate();
    // "&OK": Help > About is available again, and the box closes.
    void OKButtonClick();

    // The room of the texts and the button, which stand at fixed places: no smaller box shows them whole.
    QSize minimumSizeHint() const override;

protected:
    // The close box, and the close that "&OK" starts.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TForm6& module_;
    QFrame* panel1_ = nullptr;
    QFrame* bevel1_ = nullptr;
    QLabel* osVersion_ = nullptr;
    QLabel* physMem_ = nullptr;
    QPushButton* okButton_ = nullptr;
};
