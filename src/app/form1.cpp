#include "app/form1.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QWindow>

#include "app/errors.h"
#include "app/seam.h"
#include "app/settings.h"
#include "app/settings_places.h"
#include "export/drag_folder.h"
#include "filebox/file_box.h"
#include "paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pictrove {
namespace {

// How long after the first show an activation may take to arrive.
constexpr int kActivationGraceMs = 300;

namespace builtin = settings_defaults;

std::string localPath(const QString& path) {
    return path.toStdString();
}

QString fromLocal(const std::string& text) {
    return QString::fromStdString(text);
}

TForm1::Startup currentStartup() {
#ifdef _WIN32
    // The command line is split by the rules the Windows start-up code uses,
    // not by Qt's.
    QStringList arguments;
    for (const std::string& arg : splitCommandLine(GetCommandLineA()))
        arguments << QString::fromLocal8Bit(arg);
    return {QCoreApplication::applicationFilePath(), arguments};
#else
    // The shell has split the command line already.
    return {QCoreApplication::applicationFilePath(), QCoreApplication::arguments()};
#endif
}

// Drop-down rows of a fixed height, as the layout gives the mask selector's.
class FixedHeightItems : public QStyledItemDelegate {
public:
    FixedHeightItems(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

}  // namespace

TForm1::TForm1(QWidget* parent) : TForm1(currentStartup(), parent) {}

TForm1::TForm1(Startup startup, QWidget* parent) : QWidget(parent), startup_(std::move(startup)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(591, 264);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setAcceptDrops(true);
    buildMenus();
    buildLayout();
    // Key preview: F1 reaches the window before whichever control has the
    // focus, the selector's open list included.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && applicationActivationArmed_)
            guarded(this, [this] { FormActivate(); });
    });
}

TForm1::~TForm1() {
    ClearIcons();
}

void TForm1::buildMenus() {
    IconMenu = new QMenu(this);
    const auto add = [this](QMenu* menu, const QString& name, const QString& caption, const QString& hint) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setStatusTip(hint);
        action->setToolTip(hint.isEmpty() ? QString(caption).remove(QLatin1Char('&')) : hint);
        return action;
    };
    const auto& caption = builtin::kMenuCaptions;
    Copytoclipboard1 =
        add(IconMenu, "Copytoclipboard1", builtInText(caption[0].caption), "Copy icon to clipboard");
    Saveas1 = add(IconMenu, "Saveas1", builtInText(caption[1].caption), "Save icon as ... icon");
    SaveIconasBMP1 =
        add(IconMenu, "SaveIconasBMP1", builtInText(caption[2].caption), "Save icon as ... bitmap");
    const auto& original = builtin::kOriginalMenuCaptions;
    SaveOriginal1 = add(IconMenu, "SaveOriginal1", builtInText(original[0].caption),
                        "Save the icon with all its stored images");
    SavePng1 = add(IconMenu, "SavePng1", builtInText(original[1].caption), "Save icon as ... PNG image");
    IconDetails1 = add(IconMenu, "IconDetails1", builtInText(original[2].caption),
                       "Show every stored image of the icon");
    N1 = IconMenu->addSeparator();
    N1->setObjectName("N1");
    Setbackgroundcolor1 =
        add(IconMenu, "Setbackgroundcolor1", builtInText(caption[3].caption), "Select background color");
    Internet1 = add(IconMenu, "Internet1", builtInText(caption[4].caption), QString());
    EMail1 = add(IconMenu, "EMail1", builtInText(caption[5].caption), QString());
    Help1 = add(IconMenu, "Help1", builtInText(caption[6].caption), QString());
    Help1->setVisible(false);
    N2 = IconMenu->addSeparator();
    N2->setObjectName("N2");
    About1 = add(IconMenu, "About1", builtInText(caption[7].caption), QString());
    IconMenu->setToolTipsVisible(true);
    const auto handle = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded(this, [&] { handler(this); }); });
    };
    handle(Copytoclipboard1, [](TForm1* form) { form->SaveIconasBMP1Click(form->Copytoclipboard1); });
    handle(Saveas1, [](TForm1* form) { form->Saveas1Click(); });
    handle(SaveIconasBMP1, [](TForm1* form) { form->SaveIconasBMP1Click(form->SaveIconasBMP1); });
    handle(Setbackgroundcolor1, [](TForm1* form) { form->Setbackgroundcolor1Click(); });
    handle(SaveOriginal1, [](TForm1* form) { form->SaveOriginal1Click(); });
    handle(SavePng1, [](TForm1* form) { form->SavePng1Click(); });
    handle(IconDetails1, [](TForm1* form) { form->IconDetails1Click(); });

    MainMenu = new QMenu(this);
    ConfigExtractor = add(MainMenu, "ConfigExtractor", "&Configure Pictrove ...", QString());
    ConfigExtractor->setVisible(false);
    SaveIconCollectionas1 = add(MainMenu, "SaveIconCollectionas1", "&Save Icon Collection as ...", QString());
    connectLinkCommands();
    handle(SaveIconCollectionas1, [](TForm1* form) { form->SaveIconCollection1Click(); });
}

void TForm1::buildLayout() {
    const auto popupMainMenu = [this](QWidget* control) {
        control->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(control, &QWidget::customContextMenuRequested, this,
                [this, control](const QPoint& at) { MainMenu->popup(control->mapToGlobal(at)); });
    };

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 0, 591, 264);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(6, 6, 145, 21);
    for (const std::string_view mask : builtin::kMasks) ComboBox1->addItem(builtInText(mask));
    ComboBox1->setItemDelegate(new FixedHeightItems(13, ComboBox1));
    popupMainMenu(ComboBox1);
    connectMaskSelector();

    FileBox1 = new TFileBox(Panel1);
    FileBox1->setObjectName("FileBox1");
    FileBox1->setGeometry(6, 33, 145, 225);
    FileBox1->setViewOptions(fbShowIcons | fbShowFolders | fbChangeDir);
    FileBox1->setReadOnly(true);
    FileBox1->setSortType(stText);
    FileBox1->setViewStyle(vsReport);
    FileBox1->setShowColumnHeaders(false);
    popupMainMenu(FileBox1);
    connect(FileBox1, &TFileBox::DblClick, this, [this] { guarded(this, [this] { FileBox1DblClick(); }); });

    ScrollBox1 = new QScrollArea(Panel1);
    ScrollBox1->setObjectName("ScrollBox1");
    ScrollBox1->setGeometry(156, 6, 428, 252);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ScrollBox1->setWidgetResizable(false);
    auto* display = new IconArea;
    display->setObjectName("ScrollBox1Contents");
    display->setAutoFillBackground(true);
    ScrollBox1->setWidget(display);
    setDisplayColor(colorFromValue(kDesktopColorValue));
    popupMainMenu(display);
    display->setPictureMenu(IconMenu);
    connect(display, &IconArea::mouseMoved, this,
            [this](TIconPicture* picture) { guarded(this, [&] { Image1MouseMove(picture); }); });
    connect(display, &IconArea::doubleClicked, this,
            [this](TIconPicture* picture) { guarded(this, [&] { Image1DblClick(picture); }); });
    connect(display, &IconArea::dragStarted, this,
            [this](TIconPicture* picture) { guarded(this, [&] { DragIconOut(picture); }); });
    setVerticalScrollRange(0);

    Bevel = new QFrame(display);
    Bevel->setObjectName("Bevel");
    Bevel->setGeometry(6, 6, 39, 39);
    Bevel->setFrameStyle(QFrame::Box | QFrame::Raised);
    Bevel->setAttribute(Qt::WA_TransparentForMouseEvents);
    Bevel->hide();

    Image1 = new QLabel(display);
    Image1->setObjectName("Image1");
    Image1->setGeometry(9, 51, 32, 32);
    Image1->hide();

    setTabOrder(ComboBox1, FileBox1);
    setTabOrder(FileBox1, ScrollBox1);
}

IconArea* TForm1::displayArea() const {
    return static_cast<IconArea*>(ScrollBox1->widget());
}

int TForm1::verticalScrollPosition() const {
    return ScrollBox1->verticalScrollBar()->value();
}

QColor TForm1::displayColor() const {
    return displayArea()->palette().color(QPalette::Window);
}

void TForm1::setDisplayColor(const QColor& color) {
    QPalette palette = displayArea()->palette();
    palette.setColor(QPalette::Window, color);
    displayArea()->setPalette(palette);
    displayArea()->update();
}

void TForm1::setVerticalScrollRange(int range) {
    verticalRange_ = range;
    // The contents are as high as the range, and as wide as what is left of
    // the display area beside a vertical scroll bar when one is needed: no
    // horizontal range is ever set.
    const int frame = ScrollBox1->frameWidth();
    const QSize inside = ScrollBox1->size() - QSize(2 * frame, 2 * frame);
    const bool scrolls = range > inside.height();
    const int bar =
        scrolls ? ScrollBox1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ScrollBox1) : 0;
    displayArea()->resize(inside.width() - bar, std::max(range, inside.height()));
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::Show && !centred_) {
        centred_ = true;
        centreOnScreen();
        // A display without a window manager never activates the window, and
        // the first pass would never run: the first show stands in for the
        // activation when none has come shortly after it.
        activateWindow();
        QTimer::singleShot(kActivationGraceMs, this, [this] {
            if (windowActivationAttached_ && isVisible()) guarded(this, [this] { FormActivate(); });
        });
    }
    if (event->type() == QEvent::WindowActivate && windowActivationAttached_) {
        // The first pass waits until the window can be painted, so that a
        // large start file shows its first icons while the rest is read.
        if (windowHandle() && !windowHandle()->isExposed())
            activationAwaitsExposure_ = true;
        else
            guarded(this, [this] { FormActivate(); });
    }
    return QWidget::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && activationAwaitsExposure_ && watched == windowHandle() &&
        windowHandle()->isExposed()) {
        activationAwaitsExposure_ = false;
        // Run once the window has been painted.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (windowActivationAttached_) guarded(this, [this] { FormActivate(); });
            },
            Qt::QueuedConnection);
    }
    if (event->type() == QEvent::KeyPress && inKeyPreview(watched)) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        guarded(this, [&] { FormKeyDown(key, keyEvent->modifiers()); });
        if (key == 0) return true;
    }
    if (maskSelectorEvent(watched, event)) return true;
    return QWidget::eventFilter(watched, event);
}

bool TForm1::inKeyPreview(QObject* watched) const {
    const auto* widget = qobject_cast<const QWidget*>(watched);
    if (!widget) return false;
    if (widget->window() == this) return true;
    // The selector's open list is a window of its own; menus and message
    // boxes are not part of this window's keyboard.
    for (const QObject* object = widget; object; object = object->parent()) {
        if (object == ComboBox1) return true;
    }
    return false;
}

void TForm1::centreOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TForm1::FormActivate() {
    // Runs once per attachment: the window's first activation, or the
    // application's next activation after the configurator was started.
    windowActivationAttached_ = false;
    applicationActivationArmed_ = false;

    const std::string exe = localPath(startup_.executablePath);
    CollectionExtension = builtInText(builtin::kCollectionExtension);
    AboutText = builtInText(builtin::kAboutText);
    HelpFileName = fromLocal(replaceExtension(exe, ".hlp"));
    ExecutableFolder = fromLocal(folderPart(exe));
    ConfigExtractor->setVisible(isExistingFile(ExecutableFolder + configuratorFileName()));
    SettingsPath = settingsPathFor(fromLocal(replaceExtension(exe, ".ini")));
    if (isExistingFile(SettingsPath)) ReadSettings();
    ResolveHelpFile();
    setWindowTitle(applicationTitle());

    const bool haveArgument = startup_.arguments.size() > 1;
    if (!Activated && haveArgument) {
        // A folder is shown itself rather than from its parent.
        const QString& argument = startup_.arguments.at(1);
        FileBox1->setDirectory(QFileInfo(argument).isDir() ? argument
                                                           : fromLocal(folderPart(localPath(argument))));
    }
    ComboBox1->setCurrentIndex(0);
    ComboBox1Change();

    if (!Activated) {
        if (haveArgument) {
            LoadIcons(startup_.arguments.at(1), true);
        } else if (!StartFile.isEmpty()) {
            LoadIcons(StartFile, true);
        } else {
            LoadIcons(startup_.executablePath, false);
        }
    }
    Activated = true;
}

void TForm1::FileBox1DblClick() {
    LoadIcons(FileBox1->FileName(), true);
}

QString TForm1::saveDialogFolder() const {
    return lastSaveFolder_.isEmpty() ? FileBox1->Directory() : lastSaveFolder_;
}

void TForm1::noteSavedFile(const QString& fileName) {
    lastSaveFolder_ = QFileInfo(fileName).absolutePath();
}

}  // namespace pictrove
