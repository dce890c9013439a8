#pragma once

// The help engine's window: a compiled help file's contents beside the page, with Back, Forward
// and Home. Pages, pictures and the contents are read from the file through chmlib; links between
// pages stay inside the window, links to anything else go to the desktop's own handler.

#include <QByteArray>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

struct chmFile;
struct chmUnitInfo;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

// The chmlib functions the viewer uses, looked up in the loaded library.
struct ChmFunctions {
    chmFile* (*open)(const char* filename) = nullptr;
    void (*close)(chmFile* file) = nullptr;
    int (*resolveObject)(chmFile* file, const char* objectPath, chmUnitInfo* info) = nullptr;
    long long (*retrieveObject)(
        chmFile* file, chmUnitInfo* info, unsigned char* buffer, unsigned long long address, long long length)
        = nullptr;
};

// One open compiled help file.
class ChmArchive {
public:
    // Null when the file cannot be opened as a compiled help file.
    static std::shared_ptr<ChmArchive> open(std::shared_ptr<const ChmFunctions> functions, const QString& path);
    ~ChmArchive();

    ChmArchive(const ChmArchive&) = delete;
    ChmArchive& operator=(const ChmArchive&) = delete;

    // An object of the file by its path ("/readme/welcome.doc"; "\" counts as "/", case does not
    // matter); nothing when the file has no such object.
    std::optional<QByteArray> read(const QString& path) const;

    const QString& fileName() const { return fileName_; }
    // From the file's system data; empty where the file does not say.
    const QString& title() const { return title_; }
    const QString& defaultTopic() const { return defaultTopic_; }
    const QString& contentsFile() const { return contentsFile_; }

private:
    ChmArchive(std::shared_ptr<const ChmFunctions> functions, chmFile* file, QString fileName);
    void readSystemData();

    std::shared_ptr<const ChmFunctions> functions_;
    chmFile* file_;
    QString fileName_;
    QString title_;
    QString defaultTopic_;
    QString contentsFile_;
};

// One entry of a help file's contents: its title, its page (a path inside the file, may be empty)
// and the entries below it.
struct ContentsEntry {
    QString name;
    QString local;
    std::vector<ContentsEntry> children;
};

// The contents file (a sitemap of nested lists of objects with "Name" and "Local" parameters).
std::vector<ContentsEntry> ParseContents(const QString& sitemap);

// The URL of a path inside the help file, as the window's page browser knows it.
QUrl HelpUrl(const QString& pathInFile);

// The page browser: every page and picture comes out of the help file.
class ChmBrowser final : public QTextBrowser {
    Q_OBJECT

public:
    explicit ChmBrowser(std::shared_ptr<ChmArchive> archive, QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    std::shared_ptr<ChmArchive> archive_;
    // The page being shown: the base of its relative links and pictures.
    QUrl base_;
};

class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    // archive may be null: the window then says that the file cannot be read.
    HelpWindow(std::shared_ptr<ChmArchive> archive, const QString& filePath, QWidget* owner);

    // Shows a topic ("/readme\welcome.doc"); an empty topic shows the file's default topic.
    void showTopic(const QString& topic);

    const QString& filePath() const { return filePath_; }
    // False when the file could not be opened as a compiled help file.
    bool readable() const { return archive_ != nullptr; }
    ChmBrowser* browser() const { return browser_; }
    QTreeWidget* contents() const { return contents_; }

private:
    void buildContents(const std::vector<ContentsEntry>& entries, QTreeWidgetItem* parent);
    void followLink(const QUrl& url);
    void selectContentsEntry(const QUrl& page);

    std::shared_ptr<ChmArchive> archive_;
    QString filePath_;
    ChmBrowser* browser_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    QToolButton* home_ = nullptr;
};
