// A folder its user cannot write, as an installed program's folder is.
// Permission bits do that for a user; root writes through them, so for root
// the folder is a small file system that is made read-only once filled.
#pragma once

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

namespace pictrove::testing {

class ReadOnlyFolder {
public:
    // Makes `path`, ready to be filled; ok() is false when that failed.
    explicit ReadOnlyFolder(QString path) : path_(std::move(path)) {
        ok_ = QDir().mkpath(path_);
        if (ok_ && root_) {
            ok_ = mounted_ =
                QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", path_}) == 0;
        }
    }
    ~ReadOnlyFolder() {
        if (mounted_) {
            QProcess::execute("umount", {path_});
        } else {
            QFile::setPermissions(path_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Nothing can be made or replaced in the folder from now on.
    bool seal() {
        if (!ok_) return false;
        if (mounted_) return QProcess::execute("mount", {"-o", "remount,ro", path_}) == 0;
        return QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner);
    }
    bool ok() const { return ok_; }

private:
    QString path_;
    bool root_ = ::geteuid() == 0;
    bool ok_ = false;
    bool mounted_ = false;
};

}  // namespace pictrove::testing
