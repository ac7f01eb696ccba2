// The rows of a file box, kept as a model its view draws from. A row keeps
// what the folder read found (name, size, time); the texts of its Size, Type
// and Date Time columns and its icon are made when something first asks for
// them, so reading a folder of a hundred thousand files costs only what the
// visible rows need.
#pragma once

#include <QAbstractTableModel>
#include <QLocale>
#include <QString>
#include <functional>
#include <vector>

namespace pictrove {

// The columns a row can have after Name, in the only order they come in.
enum class SubItem { Size, Type, Time };

struct FileRow {
    enum class Kind : quint8 { File, Folder, Parent, Volume };

    QString caption;  // as shown: folders, the parent and volumes start with a blank
    QString name;     // the entry's own name (".." for the parent; a volume's root path)
    qint64 size = 0;
    qint64 modified = 0;  // milliseconds since 1970 (UTC)
    Kind kind = Kind::File;
    bool parentIsRoot = false;  // the parent row of the root, which leads to the volumes
    bool hasSubItems = true;    // volume rows have none

    // Filled in on first use.
    mutable bool described = false;
    mutable int image = 0;
    mutable QString typeName;

    bool startsWithBlank() const { return kind != Kind::File; }
};

class FileRows : public QAbstractTableModel {
    Q_OBJECT

public:
    using Less = std::function<bool(const FileRow&, const FileRow&)>;
    // Called when an in-place edit of a row's name ends, with the row and the
    // new name; answers whether the entry now has that name.
    using Rename = std::function<bool(const FileRow& row, const QString& name)>;

    struct Column {
        QString caption;
        int width = 0;
        bool rightAligned = false;
    };

    explicit FileRows(QObject* parent = nullptr);

    // The column set and whether icons are attached (SetupColumns).
    void setColumns(std::vector<Column> columns);
    void setImagesAttached(bool attached);
    const std::vector<Column>& columns() const { return columns_; }

    // The row order; an empty function leaves rows in the order they came.
    void setOrder(Less less) { less_ = std::move(less); }

    // One listing: all rows go between begin and end, which sorts once.
    void beginListing(bool withImages, std::vector<SubItem> subItems);
    void append(FileRow row) { rows_.push_back(std::move(row)); }
    void endListing();

    // Replaces the rows outside a listing (the volume list).
    void replaceRows(std::vector<FileRow> rows, bool withImages);

    // Re-sorts in place; selections and other persistent indexes follow.
    void sortRows();

    void setEditable(bool editable) { editable_ = editable; }
    void setRename(Rename rename) { rename_ = std::move(rename); }
    // A new name for a row; its caption follows, and the rows are re-sorted.
    void renameRow(int row, const QString& name);
    // A file row's new size and time, for a file written in place; only the
    // columns after the name report a change.
    void refreshFile(int row, qint64 size, qint64 modified);

    const FileRow& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }
    int count() const { return static_cast<int>(rows_.size()); }
    // The row's image index, or -1 when the row has none.
    int imageIndex(int index) const;
    QStringList subItemTexts(int index) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    void describe(const FileRow& row) const;
    QString subItemText(const FileRow& row, SubItem item) const;
    QString timeText(qint64 modified) const;

    std::vector<FileRow> rows_;
    std::vector<Column> columns_;
    std::vector<SubItem> subItems_;
    bool imagesAttached_ = true;
    bool rowsHaveImages_ = true;
    bool editable_ = false;
    Rename rename_;
    Less less_;
    QLocale locale_;
    QString timeFormat_;
};

}  // namespace pictrove
