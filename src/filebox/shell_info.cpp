#include "filebox/shell_info.h"

#include "paths.h"

namespace pictrove {

ShellInfo& ShellInfo::shared() {
    static ShellInfo info;
    return info;
}

ShellInfo::ShellInfo() {
    addImage(provider_.icon(QFileIconProvider::File));
    folderImage_ = addImage(provider_.icon(QFileIconProvider::Folder));
    volumeImage_ = addImage(provider_.icon(QFileIconProvider::Drive));
    folderTypeName_ = mime_.mimeTypeForName(QStringLiteral("inode/directory")).comment();
}

int ShellInfo::addImage(const QIcon& icon) {
    images_.push_back(icon);
    return static_cast<int>(images_.size()) - 1;
}

QIcon ShellInfo::image(int index) const {
    if (index < 0 || index >= imageCount()) return {};
    return images_[static_cast<std::size_t>(index)];
}

int ShellInfo::imageOfType(const QMimeType& type) {
    const auto known = imageByType_.find(type.name());
    if (known != imageByType_.end()) return known->second;
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    const int index = icon.isNull() ? kPlainFileImage : addImage(icon);
    imageByType_.emplace(type.name(), index);
    return index;
}

ShellInfo::FileLook ShellInfo::lookOfFile(const QString& name) {
    // By name only: content sniffing would read every file of the folder.
    const QMimeType type = mime_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    FileLook look;
    look.image = imageOfType(type);
    if (!type.isDefault()) {
        // The description is read from the database's files on each call, so
        // it is kept per type.
        auto comment = commentByType_.find(type.name());
        if (comment == commentByType_.end())
            comment = commentByType_.emplace(type.name(), type.comment()).first;
        look.typeName = comment->second;
        return look;
    }
    const std::string extension = lowerExtension(name.toStdString());
    if (extension.size() > 1) look.typeName = QString::fromStdString(extension) + QStringLiteral(" File");
    return look;
}

}  // namespace pictrove
