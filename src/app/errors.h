// How failures reach the user: a handler that fails throws an Error with the
// message to show; the one error box shows it and the program goes on.
#pragma once

#include <QCursor>
#include <QGuiApplication>
#include <QString>
#include <cstdint>
#include <exception>
#include <span>
#include <stdexcept>
#include <string>

class QWidget;

namespace pictrove {

// An error whose text is meant for the user as it stands.
class UserError : public std::runtime_error {
public:
    explicit UserError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// Writes a user's file so that a failure leaves any earlier file as it was,
// and throws the message the user sees when it fails.
void writeUserFile(const QString& fileName, std::span<const std::uint8_t> bytes);

// The application title: captions the main window, the About box and the
// error boxes. As on the taskbar, at most its first 255 characters count.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// Shows the message in the error box: a "." is added when the last
// character sorts after ".", the application title is the caption.
void showErrorBox(QWidget* parent, const QString& message);

// Runs one event handler to its end; an error escaping it goes to the error box.
template <class Handler>
void guarded(QWidget* parent, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        showErrorBox(parent, QString::fromStdString(error.what()));
    }
}

// The hourglass for work that can take long; the cursor comes back however
// the scope is left.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace pictrove
