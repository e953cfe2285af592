#include "ui/platform/DiskWatcher.h"

#include <QFile>
#include <QFileInfo>
#include <utility>

namespace {

QString FromPath(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

}  // namespace

DiskWatcher::DiskWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    look_.setInterval(kLookMs);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { settle_.start(); });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        folderChanged_ = true;
        settle_.start();
    });
    connect(&settle_, &QTimer::timeout, this, [this] {
        Renew();
        if (onChange) {
            onChange(std::exchange(folderChanged_, false));
        }
        emit looked();
    });
    connect(&look_, &QTimer::timeout, this, [this] {
        Renew();
        if (onChange && !settle_.isActive()) {
            onChange(false);
            emit looked();
        }
    });
}

void DiskWatcher::Watch(const std::string& path) {
    if (path == path_) {
        Renew();
        return;
    }
    if (!watcher_.files().isEmpty()) {
        watcher_.removePaths(watcher_.files());
    }
    if (!watcher_.directories().isEmpty()) {
        watcher_.removePaths(watcher_.directories());
    }
    path_ = path;
    if (path_.empty()) {
        look_.stop();
        settle_.stop();
        return;
    }
    const QFileInfo file(FromPath(path_));
    watcher_.addPath(file.absolutePath());
    Renew();
    look_.start();
}

void DiskWatcher::Renew() {
    if (path_.empty()) {
        return;
    }
    const QString file = FromPath(path_);
    if (!watcher_.files().contains(file) && QFileInfo::exists(file)) {
        watcher_.addPath(file);
    }
}
