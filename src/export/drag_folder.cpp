#include "export/drag_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <filesystem>

#include "app/file_names.h"

namespace pictrove {
namespace {

const QString kPrefix = QStringLiteral("Pictrove-");

// A drag at a time is what a user makes, so a few dozen names cover a
// session; the rest of the table stays for saves.
constexpr std::size_t kNotedFiles = 32;

}  // namespace

DragFolder::DragFolder()
    : folder_(QDir::tempPath() + "/" + kPrefix + QString::number(QCoreApplication::applicationPid()) +
              "-XXXXXX") {
    if (folder_.isValid()) folderNote_ = TemporaryNote(corePath(folder_.path()), true);
}

std::unique_ptr<DragFolder> DragFolder::make() {
    std::unique_ptr<DragFolder> made(new DragFolder);
    if (!made->folder_.isValid()) return nullptr;
    return made;
}

QString DragFolder::filePath(const QString& name) {
    const QString path = folder_.filePath(name);
    if (fileNotes_.size() < kNotedFiles && !fileNotes_.contains(name))
        fileNotes_.emplace(name, TemporaryNote(corePath(path)));
    return path;
}

void removeStaleDragFolders() {
    const std::string prefix = kPrefix.toStdString();
    std::error_code ec;
    std::filesystem::directory_iterator it(corePath(QDir::tempPath()), ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (isStaleTemporary(it->path(), prefix)) std::filesystem::remove_all(it->path(), ignored);
    }
}

}  // namespace pictrove
