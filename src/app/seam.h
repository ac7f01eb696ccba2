// The places where Pictrove meets the user outside its own window: message
// boxes and, later, the file and colour dialogs. Tests replace the seam to
// answer them without a modal loop.
#pragma once

#include <QString>

class QWidget;

namespace pictrove {

class Seam {
public:
    virtual ~Seam() = default;
    virtual void errorBox(QWidget* parent, const QString& title, const QString& message);
    virtual void informationBox(QWidget* parent, const QString& title, const QString& message);
};

// The seam in use; the default shows real dialogs.
Seam& seam();
// Installs a replacement (not owned); nullptr restores the default.
void setSeam(Seam* replacement);

}  // namespace pictrove
