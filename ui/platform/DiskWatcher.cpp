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
        Look(std::exchange(folderChanged_, false));
    });
    connect(&look_, &QTimer::timeout, this, [this] {
        Renew();
        if (!settle_.isActive()) {
            Look(false);
        }
    });
}

DiskWatcher::~DiskWatcher() {
    // The reader calls back into this object: it ends first.
    if (reader_.joinable()) {
        reader_.join();
    }
}

void DiskWatcher::Look(bool folder) {
    if (!onChange) {
        return;
    }
    onChange(folder);
    if (!reading_) {
        emit looked();
    }
}

void DiskWatcher::Read(velloran::DiskProbe probe) {
    if (reading_) {
        return;
    }
    if (reader_.joinable()) {
        reader_.join();  // done already: its result was taken
    }
    reading_ = true;
    reader_ = std::thread([this, probe = std::move(probe)]() mutable {
        velloran::DiskLook look;
        try {
            look = velloran::ReadDiskProbe(probe);
        } catch (const std::exception& e) {
            look.kind = velloran::DiskLook::Kind::Unreadable;
            look.reason = e.what();
        }
        {
            const std::lock_guard lock(readMutex_);
            finished_ = FinishedRead{std::move(probe), std::move(look)};
        }
        QMetaObject::invokeMethod(
            this, [this] { Look(false); }, Qt::QueuedConnection);
    });
}

std::optional<DiskWatcher::FinishedRead> DiskWatcher::TakeRead() {
    const std::lock_guard lock(readMutex_);
    if (!finished_) {
        return std::nullopt;
    }
    reading_ = false;
    return std::exchange(finished_, std::nullopt);
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
