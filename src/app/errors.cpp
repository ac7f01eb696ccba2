#include "app/errors.h"

#include <QFile>

#include "app/file_names.h"
#include "app/seam.h"
#include "app/settings.h"
#include "paths.h"
#include "save_file.h"

namespace pictrove {
namespace {
QString title = builtInText(settings_defaults::kTitle);
}  // namespace

QString applicationTitle() {
    return title;
}

void setApplicationTitle(const QString& value) {
    title = value.left(255);
}

void writeUserFile(const QString& fileName, std::span<const std::uint8_t> bytes) {
    // What the user saves is on the disk before it replaces the old file.
    if (const auto error =
            saveFile(corePath(fileName), bytes, SaveOptions{.durability = Durability::flushed})) {
        if (error->code == ErrorCode::writeFailed) throw UserError(QStringLiteral("Stream write error"));
        throw UserError(QStringLiteral("Cannot create file %1").arg(fileName));
    }
}

void showErrorBox(QWidget* parent, const QString& message) {
    const std::string text = withFinalPeriod(message.toStdString());
    seam().errorBox(parent, applicationTitle(), QString::fromStdString(text));
}

}  // namespace pictrove
