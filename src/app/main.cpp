// Pictrove's program entry: the application, its title, and the main window.
#include <QApplication>

#include "app/errors.h"
#include "app/form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictrove"));
    pictrove::setApplicationTitle(QStringLiteral("Pictrove"));
    pictrove::TForm1 form;
    form.show();
    return QApplication::exec();
}
