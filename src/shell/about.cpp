#include "shell/about.h"

#include "core/systemvar.h"
#include "widgets/NamedLabel.h"

#include <QCloseEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPushButton>
#include <QSysInfo>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <sys/sysinfo.h>

// The picture lives in a static library: its resource has to be pulled in by hand (outside any
// namespace, as the macro declares a global function).
static void InitAboutResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(about_picture);
        return true;
    }();
    (void)done;
}

namespace {

constexpr int PictureWidth = 145;
constexpr int SeparatorLeft = 152;
constexpr int SeparatorTop = 129;
constexpr int TextLeft = 176;

// Where the os-release file is, in the order the system looks.
const char* const OsReleaseFiles[] = { "/etc/os-release", "/usr/lib/os-release" };

// A value of the os-release file: shell-style, optionally in single or double quotes, with
// backslash escapes inside double quotes.
QString osReleaseValue(const QString& text, const QString& key)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (!line.startsWith(key + QLatin1Char('=')))
            continue;
        QString value = line.mid(key.size() + 1);
        if (value.size() >= 2 && value.front() == QLatin1Char('\'') && value.back() == QLatin1Char('\''))
            return value.mid(1, value.size() - 2);
        if (value.size() >= 2 && value.front() == QLatin1Char('"') && value.back() == QLatin1Char('"')) {
            QString unquoted;
            for (qsizetype i = 1; i < value.size() - 1; ++i) {
                if (value[i] == QLatin1Char('\\') && i + 1 < value.size() - 1)
                    ++i;
                unquoted += value[i];
            }
            return unquoted;
        }
        return value;
    }
    return {};
}

// A bevelled panel that shows a picture stretched over its inside.
class PicturePanel final : public QFrame {
public:
    PicturePanel(QImage picture, QWidget* parent)
        : QFrame(parent)
        , picture_(std::move(picture))
    {
        setObjectName(QStringLiteral("Panel1"));
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
    }

    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QFrame::paintEvent(event);
        if (picture_.isNull())
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(contentsRect(), picture_);
    }

private:
    QImage picture_;
};

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back into
// the decoder.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void jpegQuiet(j_common_ptr) { }

// Decodes into *image. Only plain C objects live in this frame, so the jump back from an error
// skips no destructor; the image belongs to the caller.
bool decodeJpegInto(const QByteArray& data, QImage* image)
{
    jpeg_decompress_struct info {};
    JpegErrors errors {};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;
    errors.manager.output_message = jpegQuiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(
        &info, reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// What the machine is

SystemDescription DescribeThisSystem()
{
    SystemDescription system;
    system.kernelRelease = QSysInfo::kernelVersion();
    for (const char* path : OsReleaseFiles) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            system.osRelease = QString::fromUtf8(file.readAll());
            break;
        }
    }
    struct sysinfo info { };
    if (sysinfo(&info) == 0)
        system.totalPhysicalMemory = std::uint64_t(info.totalram) * info.mem_unit;
    return system;
}

QString SystemLineText(const SystemDescription& system)
{
    // The major version: the leading digits of the release.
    QString major;
    for (const QChar c : system.kernelRelease) {
        if (!c.isDigit())
            break;
        major += c;
    }
    // A system without the file, or without a name in it, is plainly "Linux".
    QString distribution = osReleaseValue(system.osRelease, QStringLiteral("NAME"));
    if (distribution.isEmpty())
        distribution = QStringLiteral("Linux");
    const QString release = osReleaseValue(system.osRelease, QStringLiteral("VERSION_ID"));
    if (!release.isEmpty())
        distribution += QLatin1Char(' ') + release;
    return QStringLiteral("Linux ") + major + QStringLiteral(" ( ") + distribution + QStringLiteral(" )");
}

QString MemoryLineText(std::uint64_t totalPhysicalBytes)
{
    // Counted in 64 bits: a 32-bit count stops at 4 GB, far below today's machines.
    return QStringLiteral("Memory Available to Windows: %1KB").arg(totalPhysicalBytes / 1024);
}

QImage DecodeJpeg(const QByteArray& data)
{
    QImage image;
    if (data.isEmpty() || !decodeJpegInto(data, &image))
        return {};
    return image;
}

QImage AboutPicture()
{
    InitAboutResources();
    QFile file(QStringLiteral(":/about/decimora-about.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return DecodeJpeg(file.readAll());
}

// ---------------------------------------------------------------------------------------------------
// The box

TForm3::TForm3(TForm6& module, QWidget* parent)
    : QWidget(parent)
    , module_(module)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromLatin1(AboutBoxCaption));
    // Times New Roman where the machine has it; Liberation Serif has the same metrics.
    QFont times;
    times.setFamilies({ QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"), QStringLiteral("Times"),
        QStringLiteral("serif") });
    times.setPointSize(11);
    setFont(times);

    panel1_ = new PicturePanel(AboutPicture(), this);

    QLabel* productName
        = MakeNamedLabel(this, "ProductName", QString::fromLatin1(AboutProductName), QPoint(TextLeft, 16));
    QFont heavy;
    heavy.setFamilies(
        { QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    heavy.setPointSize(22);
    heavy.setWeight(QFont::Black);
    productName->setFont(heavy);
    productName->adjustSize();

    MakeNamedLabel(this, "Version", QString::fromLatin1(AboutVersion), QPoint(TextLeft, 56));

    bevel1_ = new QFrame(this);
    bevel1_->setObjectName(QStringLiteral("Bevel1"));
    bevel1_->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    osVersion_ = MakeNamedLabel(this, "OSVersion", QString(), QPoint(TextLeft, 144));
    physMem_ = MakeNamedLabel(this, "PhysMem", QString(), QPoint(TextLeft, 184));

    okButton_ = new QPushButton(QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("OKButton"));
    okButton_->setGeometry(300, 248, 73, 25);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &TForm3::OKButtonClick);

    FormCreate();
}

void TForm3::FormCreate()
{
    module_.FormsReady = false;
    const SystemDescription system = DescribeThisSystem();
    physMem_->setText(MemoryLineText(system.totalPhysicalMemory));
    physMem_->adjustSize();
    osVersion_->setText(SystemLineText(system));
    osVersion_->adjustSize();
    module_.FormsReady = true;
}

void TForm3::OKButtonClick()
{
    module_.AboutCommandEnabled = true;
    // The frame holds the box in a sub-window: closing that closes the box and destroys both.
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

QSize TForm3::minimumSizeHint() const
{
    // The picture and the separator stretch with the box; the others stand where they were put.
    QRect placed;
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != panel1_ && child != bevel1_ && !child->isHidden())
            placed |= child->geometry();
    }
    // The blank that the OK button keeps to the box's bottom, on the right and bottom of them all.
    constexpr int Margin = 8;
    return { placed.right() + 1 + Margin, placed.bottom() + 1 + Margin };
}

void TForm3::closeEvent(QCloseEvent* event)
{
    module_.AboutCommandEnabled = true;
    event->accept();
}

void TForm3::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    panel1_->setGeometry(0, 0, PictureWidth, height());
    bevel1_->setGeometry(SeparatorLeft, SeparatorTop, width() - SeparatorLeft, 2);
}
