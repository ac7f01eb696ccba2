#include "filebox/file_rows.h"

#include <QDateTime>
#include <QIcon>
#include <algorithm>
#include <numeric>

#include "filebox/shell_info.h"

namespace pictrove {
namespace {

// The locale's long time format without its time zone, which the column
// has no room for and which the clock of a file list does not need.
QString timeFormatWithoutZone(const QString& format) {
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) continue;
        out += c;
    }
    return out.simplified();
}

}  // namespace

FileRows::FileRows(QObject* parent) : QAbstractTableModel(parent) {}

void FileRows::setColumns(std::vector<Column> columns) {
    beginResetModel();
    columns_ = std::move(columns);
    endResetModel();
}

void FileRows::setImagesAttached(bool attached) {
    if (attached == imagesAttached_) return;
    imagesAttached_ = attached;
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(count() - 1, 0), {Qt::DecorationRole});
}

void FileRows::beginListing(bool withImages, std::vector<SubItem> subItems) {
    beginResetModel();
    rows_.clear();
    rowsHaveImages_ = withImages;
    subItems_ = std::move(subItems);
    // Taken once per listing: the user may change them while the program runs.
    locale_ = QLocale();
    timeFormat_ = timeFormatWithoutZone(locale_.timeFormat(QLocale::LongFormat));
}

void FileRows::endListing() {
    if (less_) std::stable_sort(rows_.begin(), rows_.end(), less_);
    endResetModel();
}

void FileRows::replaceRows(std::vector<FileRow> rows, bool withImages) {
    beginListing(withImages, subItems_);
    rows_ = std::move(rows);
    endListing();
}

void FileRows::sortRows() {
    if (!less_ || rows_.empty()) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return less_(row(a), row(b)); });
    std::vector<FileRow> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newPosition(rows_.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto from = static_cast<std::size_t>(order[k]);
        newPosition[from] = static_cast<int>(k);
        sorted.push_back(std::move(rows_[from]));
    }
    rows_ = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after << index(newPosition[static_cast<std::size_t>(old.row())], old.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileRows::renameRow(int index, const QString& name) {
    FileRow& target = rows_[static_cast<std::size_t>(index)];
    target.name = name;
    target.caption = target.startsWithBlank() ? QLatin1Char(' ') + name : name;
    target.described = false;
    emit dataChanged(this->index(index, 0), this->index(index, columnCount() - 1));
    sortRows();
}

void FileRows::refreshFile(int index, qint64 size, qint64 modified) {
    FileRow& target = rows_[static_cast<std::size_t>(index)];
    if (target.size == size && target.modified == modified) return;
    target.size = size;
    target.modified = modified;
    // Only the details: the name column stays as it was.
    if (columnCount() > 1) emit dataChanged(this->index(index, 1), this->index(index, columnCount() - 1));
}

void FileRows::describe(const FileRow& row) const {
    if (row.described) return;
    row.described = true;
    ShellInfo& shell = ShellInfo::shared();
    switch (row.kind) {
        case FileRow::Kind::File: {
            const ShellInfo::FileLook look = shell.lookOfFile(row.name);
            row.image = look.image;
            row.typeName = look.typeName;
            break;
        }
        case FileRow::Kind::Parent:
            // The root's parent row leads to the volumes and looks like one.
            row.image = row.parentIsRoot ? shell.volumeImage() : shell.folderImage();
            row.typeName = shell.folderTypeName();
            break;
        case FileRow::Kind::Folder:
            row.image = shell.folderImage();
            row.typeName = shell.folderTypeName();
            break;
        case FileRow::Kind::Volume: row.image = shell.volumeImage(); break;
    }
}

int FileRows::imageIndex(int index) const {
    if (!rowsHaveImages_) return -1;
    const FileRow& target = row(index);
    describe(target);
    return target.image;
}

QString FileRows::timeText(qint64 modified) const {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(modified);
    QString text = locale_.toString(local.date(), QLocale::ShortFormat);
    const QTime time = local.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += QLatin1Char(' ') + locale_.toString(time, timeFormat_);
    return text;
}

QString FileRows::subItemText(const FileRow& row, SubItem item) const {
    switch (item) {
        case SubItem::Size: return QString::number(row.size);
        case SubItem::Type: describe(row); return row.typeName;
        case SubItem::Time: return timeText(row.modified);
    }
    return {};
}

QStringList FileRows::subItemTexts(int index) const {
    QStringList texts;
    const FileRow& target = row(index);
    if (!target.hasSubItems) return texts;
    for (const SubItem item : subItems_) texts << subItemText(target, item);
    return texts;
}

int FileRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int FileRows::columnCount(const QModelIndex& parent) const {
    // A view needs one column to show anything; outside the report style
    // the column set is empty and the captions stand alone.
    return parent.isValid() ? 0 : std::max(1, static_cast<int>(columns_.size()));
}

QVariant FileRows::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) return {};
    const FileRow& target = row(index.row());
    const int column = index.column();
    if (column == 0) {
        switch (role) {
            case Qt::DisplayRole: return target.caption;
            case Qt::EditRole: return target.name;
            case Qt::DecorationRole:
                if (!imagesAttached_ || !rowsHaveImages_) return {};
                return ShellInfo::shared().image(imageIndex(index.row()));
            default: return {};
        }
    }
    const auto sub = static_cast<std::size_t>(column - 1);
    if (role == Qt::TextAlignmentRole) {
        const bool right = static_cast<std::size_t>(column) < columns_.size() &&
                           columns_[static_cast<std::size_t>(column)].rightAligned;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole || !target.hasSubItems || sub >= subItems_.size()) return {};
    return subItemText(target, subItems_[sub]);
}

QVariant FileRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || static_cast<std::size_t>(section) >= columns_.size())
        return {};
    const Column& column = columns_[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) return column.caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter | (column.rightAligned ? Qt::AlignRight : Qt::AlignLeft));
    return {};
}

Qt::ItemFlags FileRows::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (!index.isValid() || index.column() != 0 || !editable_) return flags;
    const FileRow::Kind kind = row(index.row()).kind;
    // The parent row and the volumes have no name of their own to change.
    if (kind == FileRow::Kind::File || kind == FileRow::Kind::Folder) flags |= Qt::ItemIsEditable;
    return flags;
}

bool FileRows::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    const QString name = value.toString();
    if (name == row(index.row()).name) return false;
    if (!rename_ || !rename_(row(index.row()), name)) return false;
    renameRow(index.row(), name);
    return true;
}

}  // namespace pictrove
