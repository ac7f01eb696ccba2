// Pictrove's program entry. For now the window shows the icons of the file
// named on the command line, ten to a row.
#include <QApplication>
#include <QPainter>
#include <QScrollArea>
#include <QWidget>

#include "browser/icon_image.h"
#include "icon_source/icon_file.h"

namespace {

class IconSheet : public QWidget {
public:
    explicit IconSheet(const QString& path) {
        const auto file = pictrove::IconFile::open(path.toStdString());
        if (file) {
            for (std::size_t i = 0; i < file->count(); ++i) {
                if (const auto icon = file->icon(i))
                    icons_.push_back(pictrove::renderIcon(*icon, background_));
            }
        }
        const int rows = (static_cast<int>(icons_.size()) + 9) / 10;
        setFixedSize(8 + 10 * 40, 8 + rows * 40);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), background_);
        for (int i = 0; i < static_cast<int>(icons_.size()); ++i) {
            painter.drawImage(8 + (i % 10) * 40, 8 + (i / 10) * 40, icons_[static_cast<std::size_t>(i)]);
        }
    }

private:
    QColor background_{0x3A, 0x6E, 0xA5};
    std::vector<QImage> icons_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pictrove");
    const QStringList args = QApplication::arguments();
    const QString path = args.size() > 1 ? args.at(1) : QApplication::applicationFilePath();

    QScrollArea window;
    window.setWindowTitle("Pictrove");
    window.setWidget(new IconSheet(path));
    window.resize(591, 264);
    window.show();
    return QApplication::exec();
}
