// TFileBox: the file list on the left of the main window. Shows one folder,
// folders first (their captions start with a blank, which sorts them ahead),
// files filtered by the file mask; a double-click enters a folder or reports
// a file.
#pragma once

#include <QString>
#include <QTreeWidget>

namespace pictrove {

class TFileBox : public QTreeWidget {
    Q_OBJECT

public:
    explicit TFileBox(QWidget* parent = nullptr);

    QString Directory() const { return directory_; }
    void setDirectory(const QString& folder);

    QString FileMask() const { return fileMask_; }
    void setFileMask(const QString& mask);

    // Full path of the file last selected in the list.
    QString FileName() const { return fileName_; }
    int FileCount() const { return fileCount_; }

    void ReadDirectory();

signals:
    void DblClick();
    void OnChangeDir();

private:
    void itemActivated(QTreeWidgetItem* item);
    void selectionChanged(QTreeWidgetItem* current);

    QString directory_;
    QString fileMask_ = QStringLiteral("*.*");
    QString fileName_;
    int fileCount_ = 0;
};

}  // namespace pictrove
