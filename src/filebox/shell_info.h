// What the desktop says about entries of the file box: icons from its icon
// theme and type names from its MIME database, both decided by the name
// alone (no file is opened). Icons live once per type in one list shared by
// every box of the program, the way the system image lists are shared: a row
// holds an index into it, and no box owns or frees it.
#pragma once

#include <QFileIconProvider>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <unordered_map>
#include <vector>

namespace pictrove {

class ShellInfo {
public:
    // The one list, made on first use (needs a running QGuiApplication).
    static ShellInfo& shared();

    // Image 0 is the plain file icon, which also stands in for any entry the
    // theme has nothing for.
    static constexpr int kPlainFileImage = 0;

    struct FileLook {
        int image = kPlainFileImage;
        // The MIME type's description; for a type the database does not know,
        // the lower-cased extension followed by " File", or empty when the
        // name has no extension.
        QString typeName;
    };
    FileLook lookOfFile(const QString& name);

    int folderImage() const { return folderImage_; }
    int volumeImage() const { return volumeImage_; }
    QString folderTypeName() const { return folderTypeName_; }

    // The icon at an index; a null icon for an index out of range.
    QIcon image(int index) const;
    int imageCount() const { return static_cast<int>(images_.size()); }

private:
    ShellInfo();
    int imageOfType(const QMimeType& type);
    int addImage(const QIcon& icon);

    QMimeDatabase mime_;
    QFileIconProvider provider_;
    std::vector<QIcon> images_;
    std::unordered_map<QString, int> imageByType_;
    std::unordered_map<QString, QString> commentByType_;
    int folderImage_ = kPlainFileImage;
    int volumeImage_ = kPlainFileImage;
    QString folderTypeName_;
};

}  // namespace pictrove
