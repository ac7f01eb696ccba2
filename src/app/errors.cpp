#include "app/errors.h"

#include "app/seam.h"
#include "app/settings.h"
#include "paths.h"

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

void showErrorBox(QWidget* parent, const QString& message) {
    const std::string text = withFinalPeriod(message.toStdString());
    seam().errorBox(parent, applicationTitle(), QString::fromStdString(text));
}

}  // namespace pictrove
