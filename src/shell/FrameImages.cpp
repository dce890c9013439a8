#include "shell/FrameImages.h"

#include <QString>

// The images live in a static library: their resource has to be pulled in by hand (outside any
// namespace, as the macro declares a global function).
static void InitResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(frame_images);
        return true;
    }();
    (void)done;
}

namespace {

// Names from the freedesktop icon naming list (and two that common themes add) that mean the same
// as the tool-bar images, by index.
const char* const ThemeNames[ToolBarImageCount] = {
    "audio-input-microphone", // Real Time Measure: the meter's microphone
    "document-import", // Import Data
    "document-open", // Open
    "document-save", // Save
    "x-office-spreadsheet", // Export to Excel
    "document-print", // Print Data Sheet
    "preferences-system", // System Option
    "help-contents", // Help
    "help-about", // About...
    "application-exit", // Exit
};

const char* const StatusThemeNames[2] = {
    "audio-input-microphone", // the meter is there
    "computer", // this computer
};

// The theme's icon when it can actually be drawn at that size (a theme of SVG files gives nothing
// without Qt's SVG plugin), else our own.
QIcon ThemedOr(const char* themeName, const QIcon& own, int size)
{
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (!themed.isNull() && !themed.pixmap(size, size).isNull())
        return themed;
    return own;
}

} // namespace

QIcon ToolBarImage(int index)
{
    InitResources();
    if (index < 0 || index >= ToolBarImageCount)
        return {};
    const QIcon own(QStringLiteral(":/frame-images/tool-%1.png").arg(index));
    return ThemedOr(ThemeNames[index], own, ToolBarImageSize);
}

QPixmap StatusImage(int index)
{
    InitResources();
    if (index < 0 || index > 1)
        return {};
    const QIcon own(QStringLiteral(":/frame-images/status-%1.png").arg(index));
    return ThemedOr(StatusThemeNames[index], own, StatusImageSize).pixmap(StatusImageSize, StatusImageSize);
}

QIcon ProgramIcon()
{
    InitResources();
    QIcon own;
    for (int size : { 16, 32, 48, 64, 128, 256 })
        own.addFile(QStringLiteral(":/frame-images/decimora-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("decimora"), own);
}
