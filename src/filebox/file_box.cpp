#include "filebox/file_box.h"

#include <QCollator>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaMethod>
#include <memory>

#include "file_mask.h"
#include "filebox/file_rows.h"
#include "filebox/folder_scan.h"
#include "filebox/folder_text.h"
#include "filebox/folder_watch.h"
#include "filebox/shell_info.h"
#include "filebox/volumes.h"
#include "paths.h"

namespace pictrove {

using namespace folder_text;

bool TFileBox::dirChanging_ = false;

namespace {

QChar driveOf(const QString& fullPath) {
#ifdef Q_OS_WIN
    const qsizetype colon = fullPath.indexOf(QLatin1Char(':'));
    return colon > 0 ? fullPath[colon - 1].toUpper() : QChar();
#else
    return fullPath.startsWith(kSeparator) ? kSeparator : QChar();
#endif
}

QString rootOfDrive(QChar letter) {
#ifdef Q_OS_WIN
    return QString(letter) + QStringLiteral(":/");
#else
    Q_UNUSED(letter);
    return QString(kSeparator);
#endif
}

// Relative paths are taken from the process's current directory; "." and
// ".." parts go; letter case and symbolic links stay as written.
QString fullPathOf(const QString& value) {
    return QDir::cleanPath(QDir(value).absolutePath());
}

// A name that would put the entry into another folder.
bool holdsSeparator(const QString& name) {
    const QByteArray bytes = name.toUtf8();
    for (const char c : bytes) {
        if (isFolderSeparator(c) || c == '/') return true;
    }
    return false;
}

class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

TFileBox::TFileBox(QWidget* owner)
    : QTreeView(owner), rows_(new FileRows(this)), watch_(new FolderWatch(this)) {
    // The shared icon list exists before the first row asks for it.
    ShellInfo::shared();
    setModel(rows_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setIconSize(QSize(16, 16));
    header()->setSectionsMovable(false);
    resize(430, height());

    rows_->setRename([this](const FileRow& row, const QString& name) {
        if (name.isEmpty() || holdsSeparator(name)) return false;
        const QString folder = addSlash(directory_);
        // Refuses to replace an entry that already has the new name.
        return QFile::rename(folder + row.name, folder + name);
    });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { itemChange(); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { itemChange(); });
    // A renamed row changes the file name; new details of a row (its size and
    // time, from the first column on) change nothing the owner sees.
    connect(rows_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from) {
        if (from.column() == 0) itemChange();
    });
    connect(watch_, &FolderWatch::changed, this, [this] { followFolder(); });
    connect(watch_, &FolderWatch::filesWritten, this,
            [this](const QStringList& names) { refreshWrittenFiles(names); });

    sortType_ = stText;
    viewOptions_ = TViewOptions(fbShowIcons | fbShowFolders | fbShowSize | fbShowType | fbShowTime |
                                fbOpenFile | fbChangeDir);
    fileType_ = ftNormal;
    charCase_ = fbNormal;
    viewStyle_ = vsReport;
    fileMask_ = QStringLiteral("*.*");
    maskList_ = {"*.*"};
    setReadOnly(false);
    applyOrder();
    // Qt creates no window per control, so the column set is made now as
    // well as on the first show: a box that is never shown still lists.
    SetupColumns();
}

TFileBox::~TFileBox() = default;

void TFileBox::showEvent(QShowEvent* event) {
    QTreeView::showEvent(event);
    if (windowCreated_) return;
    windowCreated_ = true;
    SetupColumns();
    ReadDirectory();
}

void TFileBox::setCharCase(TCharCase value) {
    if (value == charCase_) return;
    charCase_ = value;
    ReadDirectory();
}

void TFileBox::setViewOptions(TViewOptions value) {
    if (value == viewOptions_) return;
    viewOptions_ = value;
    SetupColumns();
    ReadDirectory();
}

void TFileBox::setFileType(TFileType value) {
    fileType_ = value & ~TFileType(ftVolumeID | ftDirectory);
    ReadDirectory();
}

void TFileBox::setReadOnly(bool value) {
    readOnly_ = value;
    rows_->setEditable(!value);
    setEditTriggers(value ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TFileBox::setSortType(TSortType value) {
    sortType_ = value;
    applyOrder();
    rows_->sortRows();
}

void TFileBox::setOnCompare(Compare compare) {
    onCompare_ = std::move(compare);
    applyOrder();
    rows_->sortRows();
}

void TFileBox::setViewStyle(TViewStyle value) {
    // The column set stays until the next SetupColumns.
    viewStyle_ = value;
    setIconSize(value == vsIcon ? QSize(32, 32) : QSize(16, 16));
}

bool TFileBox::ShowColumnHeaders() const {
    return !isHeaderHidden();
}

void TFileBox::setShowColumnHeaders(bool value) {
    setHeaderHidden(!value);
}

void TFileBox::applyOrder() {
    if (sortType_ == stNone) {
        rows_->setOrder({});
    } else if (onCompare_) {
        rows_->setOrder([compare = onCompare_](const FileRow& a, const FileRow& b) {
            return compare(a.caption, b.caption) < 0;
        });
    } else {
        // The user's collation within three groups: the parent row, the
        // other blank-led rows (folders, volumes), the files. A collation
        // that passes over blanks and punctuation would otherwise put " _x"
        // or " !x" above " ..", or mix folders among files.
        auto collator = std::make_shared<QCollator>();
        const auto group = [](const FileRow& row) {
            if (row.kind == FileRow::Kind::Parent) return 0;
            return row.caption.startsWith(kBlank) ? 1 : 2;
        };
        rows_->setOrder([collator, group](const FileRow& a, const FileRow& b) {
            if (group(a) != group(b)) return group(a) < group(b);
            return collator->compare(a.caption, b.caption) < 0;
        });
    }
}

void TFileBox::SetupColumns() {
    showIcons_ = viewOptions_.testFlag(fbShowIcons);
    rows_->setImagesAttached(showIcons_);
    showFolders_ = viewOptions_.testFlag(fbShowFolders);
    if (viewStyle_ != vsReport) {
        rows_->setColumns({});
        header()->setStretchLastSection(true);
        return;
    }
    std::vector<FileRows::Column> columns{{QStringLiteral("Name"), 125, false}};
    showSize_ = viewOptions_.testFlag(fbShowSize);
    if (showSize_) columns.push_back({QStringLiteral("Size"), 60, true});
    showType_ = viewOptions_.testFlag(fbShowType);
    if (showType_) columns.push_back({QStringLiteral("Type"), 125, false});
    showTime_ = viewOptions_.testFlag(fbShowTime);
    if (showTime_) columns.push_back({QStringLiteral("Date Time"), 100, false});
    rows_->setColumns(columns);
    header()->setStretchLastSection(false);
    for (std::size_t i = 0; i < columns.size(); ++i)
        header()->resizeSection(static_cast<int>(i), columns[i].width);
}

void TFileBox::ReadDirectory() {
    if (fileMask_.isEmpty()) return;
    const WaitCursor wait;
    fileCount_ = 0;
    std::vector<SubItem> subItems;
    if (viewStyle_ == vsReport) {
        if (showSize_) subItems.push_back(SubItem::Size);
        if (showType_) subItems.push_back(SubItem::Type);
        if (showTime_) subItems.push_back(SubItem::Time);
    }
    applyOrder();
    {
        // Rows are sorted once, when the listing ends, however it ends.
        rows_->beginListing(showIcons_, std::move(subItems));
        struct ListingEnd {
            FileRows* rows;
            ~ListingEnd() { rows->endListing(); }
        } const end{rows_};

        const QString folder = addSlash(directory_.isEmpty() ? QStringLiteral(".") : directory_);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (showFolders_) {
            // Made up rather than taken from the folder: a root has none of
            // its own (its parent row leads to the volumes), and a folder that
            // cannot be read still offers the way back.
            FolderEntry parent;
            parent.name = "..";
            parent.attributes = entry_attr::directory;
            const bool root = isRoot(folder);
            parent.modified = root ? now : modificationTime(folder + QStringLiteral(".."));
            addItem(parent, now, root);
        }
        const bool details = showSize_ || showTime_ || !fileType_.testFlag(ftNormal);
        scanFolder(folder, details, [&](const FolderEntry& entry) {
            if (!showFolders_ && entry.isDirectory()) return;
            addItem(entry, now, false);
        });
        watch_->watch(folder);
    }
    itemChange();
}

void TFileBox::addItem(const FolderEntry& entry, qint64 now, bool rootParent) {
    if (!fileType_.testFlag(ftNormal)) {
        const auto wanted =
            static_cast<quint8>((fileType_ & (ftReadOnly | ftHidden | ftSystem | ftArchive)).toInt());
        if (!(entry.attributes & wanted)) return;
    }
    const bool directory = entry.isDirectory();
    if (!(showFolders_ && directory) && !matchesMask(maskList_, asciiLower(entry.name))) return;

    FileRow row;
    row.name = QFile::decodeName(QByteArray(entry.name.data(), static_cast<qsizetype>(entry.name.size())));
    if (directory) {
        row.kind = entry.name == ".." ? FileRow::Kind::Parent : FileRow::Kind::Folder;
        row.caption = withCharCase(kBlank + row.name);
    } else {
        row.caption = withCharCase(row.name);
        row.size = entry.size;
    }
    row.parentIsRoot = rootParent;
    row.modified = entry.modified == FolderEntry::kUnknownTime ? now : entry.modified;
    rows_->append(std::move(row));
    ++fileCount_;
}

QString TFileBox::withCharCase(QString caption) const {
    if (charCase_ == fbNormal) return caption;
    const char16_t from = charCase_ == fbUpperCase ? u'a' : u'A';
    const char16_t to = charCase_ == fbUpperCase ? u'A' : u'a';
    for (QChar& c : caption) {
        const char16_t unit = c.unicode();
        if (unit >= from && unit <= from + 25) c = QChar(static_cast<char16_t>(unit - from + to));
    }
    return caption;
}

void TFileBox::setFileMask(const QString& value) {
    fileMask_ = value;
    SplitFileMask split = splitFileMask(value.toStdString());
    maskList_ = std::move(split.segments);
    if (value.isEmpty()) return;
    const QString folder = QString::fromStdString(split.folder);
    if (folder.isEmpty() || folder == directory_) {
        ReadDirectory();
    } else {
        setDirectory(folder);
    }
}

bool TFileBox::MatchesMask(const QString& name) const {
    return matchesMask(maskList_, asciiLower(name.toStdString()));
}

void TFileBox::setDirectory(const QString& value) {
    if (dirChanging_ || value == directory_) return;
    if (value.isEmpty()) {
        // Nothing is read: the rows stay, and paths are taken from the
        // current directory until another folder is set.
        directory_.clear();
        return;
    }
    directory_ = fullPathOf(value);
    const QChar drive = driveOf(directory_);
    if (!drive.isNull()) drive_ = drive;
    directory_ = removeSlash(directory_);
    {
        struct Clear {
            bool& flag;
            ~Clear() { flag = false; }
        } const clear{dirChanging_};
        dirChanging_ = true;
        emit ChangeDir();
        if (dirList_ && dirList_->metaObject()->indexOfMethod("setDirectory(QString)") >= 0)
            QMetaObject::invokeMethod(dirList_, "setDirectory", Qt::DirectConnection,
                                      Q_ARG(QString, directory_));
    }
    ReadDirectory();
}

void TFileBox::setDrive(QChar letter) {
    if (letter == drive_) {
        drive_ = QChar();
    } else if (letter.isNull()) {
        ShowDrives();
    } else {
        setDirectory(rootOfDrive(letter));
    }
}

void TFileBox::ShowDrives() {
    if (!showFolders_) return;
    std::vector<FileRow> rows;
    for (const QString& root : volumeRoots()) {
        FileRow row;
        row.kind = FileRow::Kind::Volume;
        row.name = root;
        row.caption = kBlank + root;
        row.hasSubItems = false;
        rows.push_back(std::move(row));
    }
    applyOrder();
    rows_->replaceRows(std::move(rows), showIcons_);
    watch_->watch({});
    directory_.clear();
    itemChange();
}

void TFileBox::itemChange() {
    const int selected = Selected();
    QString shown = fileMask_;
    if (selected >= 0 && rows_->row(selected).kind == FileRow::Kind::File) {
        // The entry's own name: the caption may be case-mapped, and names
        // differ by case here.
        fileName_ = addSlash(directory_) + rows_->row(selected).name;
        shown = rows_->row(selected).caption;
    }
    if (fileEdit_) fileEdit_->setText(shown);
    emit Change();
}

void TFileBox::setFileEdit(QLineEdit* edit) {
    // The previous edit gets its keys back, so it can never reach this box
    // again.
    if (fileEdit_) fileEdit_->removeEventFilter(this);
    fileEdit_ = edit;
    if (edit) edit->installEventFilter(this);
}

bool TFileBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && fileEdit_ && watched == fileEdit_.data())
        return EditKeyPress(fileEdit_, static_cast<QKeyEvent*>(event)->key());
    return QTreeView::eventFilter(watched, event);
}

bool TFileBox::EditKeyPress(QLineEdit* sender, int key) {
    if (!sender || (key != Qt::Key_Return && key != Qt::Key_Enter)) return false;
    setFileMask(sender->text());
    return true;
}

bool TFileBox::RenameItem(int row, const QString& newName) {
    if (row < 0 || row >= Count()) return false;
    return rows_->setData(rows_->index(row, 0), newName, Qt::EditRole);
}

int TFileBox::Count() const {
    return rows_->count();
}

QString TFileBox::Caption(int row) const {
    return row >= 0 && row < Count() ? rows_->row(row).caption : QString();
}

QStringList TFileBox::SubItems(int row) const {
    return row >= 0 && row < Count() ? rows_->subItemTexts(row) : QStringList();
}

int TFileBox::ImageIndex(int row) const {
    return row >= 0 && row < Count() ? rows_->imageIndex(row) : -1;
}

int TFileBox::Selected() const {
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first) first = index.row();
    }
    return first;
}

}  // namespace pictrove
