#include "shell/HelpViewer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>
#include <chm_lib.h>
#include <type_traits>

// The pointers are filled from the loaded library; their types must be chmlib's own.
static_assert(std::is_same_v<decltype(ChmFunctions::open), decltype(&::chm_open)>);
static_assert(std::is_same_v<decltype(ChmFunctions::close), decltype(&::chm_close)>);
static_assert(std::is_same_v<decltype(ChmFunctions::resolveObject), decltype(&::chm_resolve_object)>);
static_assert(std::is_same_v<decltype(ChmFunctions::retrieveObject), decltype(&::chm_retrieve_object)>);

namespace {

constexpr char HelpScheme[] = "chm";
constexpr int WindowWidth = 980;
constexpr int WindowHeight = 660;
constexpr int ContentsWidth = 290;
// The codes of the system data entries the window reads.
constexpr int SystemContentsFile = 0;
constexpr int SystemDefaultTopic = 2;
constexpr int SystemTitle = 3;

// "readme\welcome.doc" and "/README/welcome.doc" both become "/readme/welcome.doc"-style paths
// (case is left alone: the file's index ignores it).
QString normalisedPath(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.startsWith(QLatin1Char('/')))
        path.prepend(QLatin1Char('/'));
    return path;
}

QString unescapedHtml(QString text)
{
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&#39;"), QLatin1String("'"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

QString attribute(const QString& attributes, const QString& name)
{
    const QRegularExpression pattern(QStringLiteral("\\b%1\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(attributes);
    if (!match.hasMatch())
        return {};
    for (int group = 1; group <= 3; ++group) {
        if (match.capturedStart(group) >= 0)
            return unescapedHtml(match.captured(group));
    }
    return {};
}

QString pageHtml(const QString& title, const QString& text)
{
    return QStringLiteral("<html><head><title>%1</title></head><body><h2>%1</h2><p>%2</p></body></html>")
        .arg(title.toHtmlEscaped(), text.toHtmlEscaped());
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// The file

std::shared_ptr<ChmArchive> ChmArchive::open(std::shared_ptr<const ChmFunctions> functions, const QString& path)
{
    chmFile* file = functions->open(QFile::encodeName(path).constData());
    if (!file)
        return nullptr;
    std::shared_ptr<ChmArchive> archive(new ChmArchive(std::move(functions), file, QFileInfo(path).fileName()));
    archive->readSystemData();
    return archive;
}

ChmArchive::ChmArchive(std::shared_ptr<const ChmFunctions> functions, chmFile* file, QString fileName)
    : functions_(std::move(functions))
    , file_(file)
    , fileName_(std::move(fileName))
{
}

ChmArchive::~ChmArchive()
{
    functions_->close(file_);
}

std::optional<QByteArray> ChmArchive::read(const QString& path) const
{
    const QByteArray objectPath = normalisedPath(path).toUtf8();
    if (objectPath.size() > CHM_MAX_PATHLEN)
        return std::nullopt;
    chmUnitInfo info {};
    if (functions_->resolveObject(file_, objectPath.constData(), &info) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    // Anything over a gigabyte is no help page; it would only exhaust the memory.
    if (info.length > (1ULL << 30))
        return std::nullopt;
    QByteArray content(static_cast<qsizetype>(info.length), Qt::Uninitialized);
    const long long got = functions_->retrieveObject(
        file_, &info, reinterpret_cast<unsigned char*>(content.data()), 0, static_cast<long long>(info.length));
    if (got < 0 || static_cast<unsigned long long>(got) != info.length)
        return std::nullopt;
    return content;
}

void ChmArchive::readSystemData()
{
    // The system data: a 4-byte version, then entries of a 2-byte code, a 2-byte length and that
    // many bytes; the texts among them end with a NUL.
    const std::optional<QByteArray> system = read(QStringLiteral("/#SYSTEM"));
    if (!system)
        return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(system->constData());
    const qsizetype size = system->size();
    qsizetype at = 4;
    while (at + 4 <= size) {
        const int code = bytes[at] | (bytes[at + 1] << 8);
        const int length = bytes[at + 2] | (bytes[at + 3] << 8);
        at += 4;
        if (at + length > size)
            break;
        QByteArray text(system->constData() + at, length);
        const qsizetype end = text.indexOf('\0');
        if (end >= 0)
            text.truncate(end);
        // Help compilers write the file's texts in its language's code page; ours are ASCII.
        if (code == SystemContentsFile)
            contentsFile_ = QString::fromLatin1(text);
        else if (code == SystemDefaultTopic)
            defaultTopic_ = QString::fromLatin1(text);
        else if (code == SystemTitle)
            title_ = QString::fromLatin1(text);
        at += length;
    }
}

// ---------------------------------------------------------------------------------------------------
// The contents

std::vector<ContentsEntry> ParseContents(const QString& sitemap)
{
    std::vector<ContentsEntry> top;
    // The lists open at the moment, innermost last, and the entry each new list goes under.
    std::vector<std::vector<ContentsEntry>*> lists;
    std::vector<ContentsEntry*> lastEntry;
    std::optional<ContentsEntry> object;

    static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"));
    for (auto it = tag.globalMatch(sitemap); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const bool closing = !match.captured(1).isEmpty();
        const QString name = match.captured(2).toLower();
        const QString attributes = match.captured(3);
        if (name == QLatin1String("ul")) {
            if (!closing) {
                std::vector<ContentsEntry>* list = &top;
                if (!lists.empty())
                    list = lastEntry.back() ? &lastEntry.back()->children : lists.back();
                lists.push_back(list);
                lastEntry.push_back(nullptr);
            } else if (!lists.empty()) {
                lists.pop_back();
                lastEntry.pop_back();
            }
        } else if (name == QLatin1String("object")) {
            if (!closing) {
                if (attribute(attributes, QStringLiteral("type"))
                        .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive)
                    == 0)
                    object.emplace();
            } else if (object) {
                std::vector<ContentsEntry>* list = lists.empty() ? &top : lists.back();
                list->push_back(std::move(*object));
                object.reset();
                if (!lastEntry.empty())
                    lastEntry.back() = &list->back();
            }
        } else if (name == QLatin1String("param") && object) {
            const QString parameter = attribute(attributes, QStringLiteral("name"));
            const QString value = attribute(attributes, QStringLiteral("value"));
            if (parameter.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
                object->name = value;
            else if (parameter.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0)
                object->local = value;
        }
    }
    return top;
}

QUrl HelpUrl(const QString& pathInFile)
{
    QUrl url;
    url.setScheme(QString::fromLatin1(HelpScheme));
    QString path = pathInFile;
    QString fragment;
    if (const qsizetype hash = path.indexOf(QLatin1Char('#')); hash >= 0) {
        fragment = path.mid(hash + 1);
        path.truncate(hash);
    }
    url.setPath(normalisedPath(path));
    if (!fragment.isEmpty())
        url.setFragment(fragment);
    return url;
}

// ---------------------------------------------------------------------------------------------------
// The page browser

ChmBrowser::ChmBrowser(std::shared_ptr<ChmArchive> archive, QWidget* parent)
    : QTextBrowser(parent)
    , archive_(std::move(archive))
{
    setObjectName(QStringLiteral("HelpPage"));
    // The window decides where a link goes: inside the file, or to the desktop.
    setOpenLinks(false);
}

void ChmBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type)
{
    // The page's pictures are asked for while it is being laid out, before the browser's own
    // source has changed.
    base_ = name;
    QTextBrowser::doSetSource(name, type);
}

QVariant ChmBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl url = name.isRelative() ? base_.resolved(name) : name;
    if (url.scheme() != QLatin1String(HelpScheme))
        return QTextBrowser::loadResource(type, url);
    std::optional<QByteArray> content;
    if (archive_)
        content = archive_->read(url.path());
    if (content)
        return *content;
    if (type == QTextDocument::HtmlResource) {
        return pageHtml(QStringLiteral("Page not found"),
            QStringLiteral("The help file %1 has no page %2.")
                .arg(archive_ ? archive_->fileName() : QStringLiteral("?"), url.path()));
    }
    return {};
}

// ---------------------------------------------------------------------------------------------------
// The window

HelpWindow::HelpWindow(std::shared_ptr<ChmArchive> archive, const QString& filePath, QWidget* owner)
    : QWidget(owner, Qt::Window)
    , archive_(std::move(archive))
    , filePath_(filePath)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QString title = archive_ && !archive_->title().isEmpty() ? archive_->title() : QFileInfo(filePath).fileName();
    setWindowTitle(title);

    auto* toolBar = new QWidget(this);
    auto* toolLayout = new QHBoxLayout(toolBar);
    toolLayout->setContentsMargins(4, 4, 4, 0);
    const auto makeButton
        = [this, toolBar, toolLayout](const char* name, const QString& text, QStyle::StandardPixmap icon) {
              auto* button = new QToolButton(toolBar);
              button->setObjectName(QLatin1String(name));
              button->setText(text);
              button->setIcon(style()->standardIcon(icon));
              button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
              button->setAutoRaise(true);
              toolLayout->addWidget(button);
              return button;
          };
    back_ = makeButton("BackButton", QStringLiteral("Back"), QStyle::SP_ArrowBack);
    forward_ = makeButton("ForwardButton", QStringLiteral("Forward"), QStyle::SP_ArrowForward);
    home_ = makeButton("HomeButton", QStringLiteral("Home"), QStyle::SP_DirHomeIcon);
    toolLayout->addStretch(1);

    contents_ = new QTreeWidget(this);
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setHeaderLabel(QStringLiteral("Contents"));
    contents_->header()->setSectionsClickable(false);

    browser_ = new ChmBrowser(archive_, this);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(contents_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ ContentsWidth, WindowWidth - ContentsWidth });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(home_, &QToolButton::clicked, this, [this] { showTopic(QString()); });
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::selectContentsEntry);
    connect(contents_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        const QUrl page = item->data(0, Qt::UserRole).toUrl();
        if (page.isValid() && page != browser_->source())
            browser_->setSource(page);
    });
    connect(contents_, &QTreeWidget::itemClicked, contents_, &QTreeWidget::itemActivated);

    if (archive_ && !archive_->contentsFile().isEmpty()) {
        if (const std::optional<QByteArray> sitemap = archive_->read(archive_->contentsFile()))
            buildContents(ParseContents(QString::fromUtf8(*sitemap)), nullptr);
        contents_->expandAll();
    }
    if (contents_->topLevelItemCount() == 0)
        contents_->hide();
    // A flat list of pages needs no room for branches.
    bool nested = false;
    for (int i = 0; i < contents_->topLevelItemCount(); ++i)
        nested = nested || contents_->topLevelItem(i)->childCount() > 0;
    contents_->setRootIsDecorated(nested);

    resize(WindowWidth, WindowHeight);
    // Beside its owner rather than wherever the window system puts new windows.
    if (owner) {
        const QRect frame = owner->frameGeometry();
        move(frame.left() + std::max(0, (frame.width() - WindowWidth) / 2),
            frame.top() + std::max(0, (frame.height() - WindowHeight) / 4));
    }

    if (!archive_) {
        browser_->setHtml(pageHtml(QStringLiteral("Help not available"),
            QStringLiteral("The help file %1 cannot be read. Reinstall Decimora to get it back.")
                .arg(QDir::toNativeSeparators(filePath))));
    }
}

void HelpWindow::buildContents(const std::vector<ContentsEntry>& entries, QTreeWidgetItem* parent)
{
    for (const ContentsEntry& entry : entries) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(contents_);
        item->setText(0, entry.name);
        item->setToolTip(0, entry.name);
        if (!entry.local.isEmpty())
            item->setData(0, Qt::UserRole, HelpUrl(entry.local));
        buildContents(entry.children, item);
    }
}

void HelpWindow::showTopic(const QString& topic)
{
    if (!archive_)
        return;
    QString page = topic;
    if (page.isEmpty())
        page = archive_->defaultTopic();
    if (page.isEmpty())
        return;
    browser_->setSource(HelpUrl(page));
}

void HelpWindow::followLink(const QUrl& url)
{
    if (url.scheme() == QLatin1String(HelpScheme))
        browser_->setSource(url);
    else
        QDesktopServices::openUrl(url);
}

void HelpWindow::selectContentsEntry(const QUrl& page)
{
    const QUrl shown = page.adjusted(QUrl::RemoveFragment);
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        const QUrl entry = (*it)->data(0, Qt::UserRole).toUrl().adjusted(QUrl::RemoveFragment);
        if (entry.isValid() && entry.path().compare(shown.path(), Qt::CaseInsensitive) == 0) {
            contents_->setCurrentItem(*it);
            return;
        }
    }
}
