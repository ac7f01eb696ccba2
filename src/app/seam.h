// The places where Pictrove meets the user outside its own window: message
// boxes, the file and colour dialogs, and what it hands to the desktop (links,
// documents, help files, the configurator). Tests replace the seam to answer
// them without a modal loop and to see what would have been opened.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class QWidget;

namespace pictrove {

class Seam {
public:
    virtual ~Seam() = default;
    virtual void errorBox(QWidget* parent, const QString& title, const QString& message);
    virtual void informationBox(QWidget* parent, const QString& title, const QString& message);

    // A save-file dialog that opens in `folder`, asks before a chosen file
    // is replaced and keeps the user in it while the chosen folder does not
    // exist. `filter` is in the "Description (*.ext)|*.ext" form. Nothing
    // when the user cancels.
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                                const QString& fileName, const QString& folder);
    // The same dialog with a size box below the file name, offering `sizes`
    // with `size` chosen, so one dialog picks both. The name and the size;
    // nothing when the user cancels.
    struct SizedName {
        QString fileName;
        std::uint32_t size = 0;
    };
    virtual std::optional<SizedName> saveSizedFileName(QWidget* parent, const QString& title,
                                                       const QString& filter, const QString& fileName,
                                                       const QString& folder,
                                                       const std::vector<std::uint32_t>& sizes,
                                                       std::uint32_t size);
    // The colour dialog, opened on `initial`. Nothing when the user cancels.
    virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial);
    // Asks whether an existing file may be replaced.
    virtual bool confirmReplace(QWidget* parent, const QString& title, const QString& path);

    // The desktop's open action for a web or mail address or a document.
    // Whether it worked is not reported: a failure shows nothing.
    virtual void openDocument(QWidget* owner, const QString& target);
    // Starts a program with its arguments, each handed over as it is (never
    // through a command line that quotes could break); nothing is reported
    // when it does not start.
    virtual void startProgram(QWidget* owner, const QString& program, const QStringList& arguments);
    // A help file opened at its contents page.
    virtual void showHelpContents(QWidget* owner, const QString& helpFile);
};

// The seam in use; the default shows real dialogs.
Seam& seam();
// Installs a replacement (not owned); nullptr restores the default.
void setSeam(Seam* replacement);

}  // namespace pictrove
