// The display grid of the main window: LoadIcons places one picture per icon
// of a file, ten to a row, in the display area, which paints them; the mouse
// selects them.
#include <QCursor>
#include <QFile>
#include <QFrame>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <memory>

#include "app/errors.h"
#include "app/file_names.h"
#include "app/form1.h"
#include "browser/icon_picture.h"
#include "collection_file.h"
#include "icon_source/icon_file.h"
#include "paths.h"

namespace pictrove {
namespace {

constexpr int kMargin = 8;  // left and top margin, and the gap between pictures
constexpr int kColumns = 10;

// One icon source as LoadIcons walks it: each step yields a picture's icon,
// a skipped item, or the end.
class IconStream {
public:
    enum class Step { icon, skipped, end };
    virtual ~IconStream() = default;
    virtual Step next(std::shared_ptr<IconRecord>& record) = 0;
    // The number, in its file, of the icon or record `next` gave last.
    std::size_t position = 0;
    bool collection = false;
    // What tells the file of the icon `next` gave last from another put in its place later.
    virtual std::optional<IconStamp> stamp() const { return std::nullopt; }
    // Why the first icon passed over for a picture a reader draws was not
    // drawn (an SVG icon stopped by its limits): no damage, so the user is
    // told. Empty when there was none.
    std::string notDrawn;
};

// The icons the engine finds in executables, libraries and icon files, or,
// for a system library that keeps none, in its SystemResources .mun file.
class EngineStream final : public IconStream {
public:
    explicit EngineStream(const QString& fileName) {
        // A file that cannot be opened simply holds no icons.
        const std::filesystem::path path = corePath(fileName);
        auto opened = IconFile::openFollowingRedirect(path);
        if (opened) file_ = std::move(*opened);
        remaining_ = file_.count();
        if (remaining_ > 0) fileStamp_ = IconStamp::of(file_, path);
    }

    std::optional<IconStamp> stamp() const override {
        if (!fileStamp_) return std::nullopt;
        return fileStamp_->forGroup(file_.group(position));
    }

    Step next(std::shared_ptr<IconRecord>& record) override {
        if (remaining_ == 0) return Step::end;
        --remaining_;
        position = index_;
        // The images of the icons to come are read a batch at a time.
        constexpr std::size_t kBatch = 256;
        if (index_ % kBatch == 0) file_.readAhead(index_, kBatch);
        auto icon = file_.icon(index_++);
        if (!icon) {
            if (const std::string why = whyNotMade(file_.group(position).images);
                !why.empty() && notDrawn.empty())
                notDrawn = "icon " + std::to_string(position) + " cannot be decoded: " + why;
            return Step::skipped;
        }
        record = std::make_shared<IconRecord>(std::move(*icon));
        return Step::icon;
    }

private:
    IconFile file_;
    std::optional<IconStamp> fileStamp_;
    std::size_t remaining_ = 0;
    std::size_t index_ = 0;
};

// The records of an icon collection file, in file order.
class CollectionStream final : public IconStream {
public:
    explicit CollectionStream(CollectionReader reader) : reader_(std::move(reader)) { collection = true; }

    Step next(std::shared_ptr<IconRecord>& record) override {
        std::span<const std::uint8_t> bytes;
        if (!reader_.next(bytes)) return Step::end;
        position = read_++;
        // A record that is not an icon is passed over; its bytes are kept as
        // they stand for every other record, so saving again gives them back.
        if (!isAcceptedRecord(bytes)) return Step::skipped;
        record = std::make_shared<IconRecord>(IconRecord::CollectionRecord{},
                                              std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        return Step::icon;
    }

private:
    CollectionReader reader_;
    std::size_t read_ = 0;
};

// A collection file when the name has the collection extension and the
// trailer confirms it; the engine for everything else.
std::unique_ptr<IconStream> openSource(const QString& fileName, const QString& collectionExtension) {
    const std::string extension = lowerExtension(fileName.toStdString());
    if (!extension.empty() && QString::fromStdString(extension) == collectionExtension) {
        auto collection = CollectionReader::open(corePath(fileName), extension);
        if (!collection) {
            if (collection.error().code == ErrorCode::cannotOpen) {
                throw UserError(QStringLiteral("Cannot open file %1").arg(fileName));
            }
            throw UserError(QString::fromStdString(collection.error().message));
        }
        if (*collection) return std::make_unique<CollectionStream>(std::move(**collection));
    }
    return std::make_unique<EngineStream>(fileName);
}

}  // namespace

void TForm1::LoadIcons(const QString& fileName, bool updateCaption) {
    ClearIcons();
    bool anyPlaced = false;
    WaitCursor hourglass;
    const std::unique_ptr<IconStream> source = openSource(fileName, CollectionExtension);

    int lastHeight = 0;
    bool firstScreenShown = false;
    std::shared_ptr<IconRecord> record;
    for (IconStream::Step step; (step = source->next(record)) != IconStream::Step::end;) {
        // A bad item is passed over wherever it stands, so one damaged icon
        // never hides the good ones after it.
        if (step == IconStream::Step::skipped) continue;
        auto picture = std::make_unique<TIconPicture>(std::move(record));
        if (picture->empty()) continue;
        picture->setOrigin({fileName, source->position, source->collection, source->stamp()});
        picture->setAutoSize(true);
        picture->setTag(TIconPicture::kGridTag);
        picture->move(NextLeft, NextTop);
        const QSize size = picture->size();
        displayArea()->add(std::move(picture));

        ++GridColumn;
        if (GridColumn < kColumns) {
            NextLeft += size.width() + kMargin;
        } else {
            NextLeft = kMargin;
            NextTop += size.height() + kMargin;
            GridColumn = 0;
        }
        lastHeight = size.height();
        IconsShown = true;
        anyPlaced = true;
        ++IconCount;
        // The first screenful is shown as soon as it stands, while the rest
        // of a large file is still being read.
        if (!firstScreenShown && NextTop >= ScrollBox1->viewport()->height()) {
            displayArea()->repaint();
            firstScreenShown = true;
        }
    }

    if (anyPlaced) {
        if (updateCaption) {
            QString caption = applicationTitle() + " : ";
            if (ShowFileNames)
                caption += QString::fromStdString(fileNamePart(fileName.toStdString())) + " - ";
            setWindowTitle(caption + QString::number(IconCount) + " Icons");
        }
        const int rows = IconCount / kColumns + (IconCount % kColumns > 0 ? 1 : 0);
        setVerticalScrollRange(rows * (lastHeight + kMargin) + kMargin);
    }
    Bevel->setVisible(anyPlaced);
    // Shown before the pictures of the file before are let go.
    displayArea()->repaint();
    if (!source->notDrawn.empty())
        throw UserError(QStringLiteral("%1: %2").arg(fileName, QString::fromStdString(source->notDrawn)));
}

void TForm1::ClearIcons() {
    if (IconsShown) displayArea()->clear();
    ScrollBox1->verticalScrollBar()->setValue(0);
    IconsShown = false;
    Bevel->hide();
    Bevel->move(5, 5);
    IconCount = 0;
    GridColumn = 0;
    NextLeft = kMargin;
    NextTop = kMargin;
    SelectedIcon = nullptr;
}

void TForm1::Image1MouseMove(TIconPicture* sender) {
    Bevel->move(sender->x() - 3, sender->y() - 3);
    SelectedIcon = sender;
}

void TForm1::Image1DblClick(TIconPicture*) {
    IconMenu->popup(QCursor::pos());
}

}  // namespace pictrove
