#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

// Watches the document's file and its folder: a sync tool, another program or a save of our own
// replaces a file by renaming another over it, which ends any watch of the file itself, so the
// folder tells of the new one. A change calls onChange once the file system has been quiet for a
// moment; a look every two seconds stands in where the file system tells nothing (a network
// folder), which a check of the file's identity makes cheap.
class DiskWatcher : public QObject {
    Q_OBJECT

  public:
    explicit DiskWatcher(QObject* parent = nullptr);

    // Watches path; an empty path watches nothing. The same path again only renews the watch of
    // the file, which a replacement ended.
    void Watch(const std::string& path);
    const std::string& Path() const { return path_; }

    // The file may have changed: compare it. folder tells that its folder changed too, where a
    // sync tool's conflict copy may have appeared.
    std::function<void(bool folder)> onChange;

  signals:
    // onChange was called: the file was looked at.
    void looked();

  public:
    // The quiet moment after the last change, and the time between looks.
    static constexpr int kSettleMs = 300;
    static constexpr int kLookMs = 2000;

  private:
    void Renew();

    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer look_;
    std::string path_;
    bool folderChanged_ = false;
};
