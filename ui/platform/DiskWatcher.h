#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/merge/DiskMerge.h"

// Watches the document's file and its folder: a sync tool, another program or a save of our own
// replaces a file by renaming another over it, which ends any watch of the file itself, so the
// folder tells of the new one. A change calls onChange once the file system has been quiet for a
// moment; a look every two seconds stands in where the file system tells nothing (a network
// folder), which a check of the file's identity makes cheap.
class DiskWatcher : public QObject {
    Q_OBJECT

  public:
    explicit DiskWatcher(QObject* parent = nullptr);
    ~DiskWatcher() override;

    // Watches path; an empty path watches nothing. The same path again only renews the watch of
    // the file, which a replacement ended.
    void Watch(const std::string& path);
    const std::string& Path() const { return path_; }

    // The file may have changed: compare it. folder tells that its folder changed too, where a
    // sync tool's conflict copy may have appeared.
    std::function<void(bool folder)> onChange;

    // Reads the probe's file on a thread of its own while the windows go on: a sealed file
    // written elsewhere has a salt of its own, and deriving its key takes Argon2id's time and
    // memory, which no window may wait for. Once read, onChange is called again, to take it.
    void Read(velloran::DiskProbe probe);
    // A read is under way, or done and not taken yet.
    bool Reading() const { return reading_; }
    struct FinishedRead {
        velloran::DiskProbe probe;
        velloran::DiskLook look;
    };
    // The read done, once.
    std::optional<FinishedRead> TakeRead();

  signals:
    // onChange was called and nothing is still being read: the file was looked at.
    void looked();

  public:
    // The quiet moment after the last change, and the time between looks.
    static constexpr int kSettleMs = 300;
    static constexpr int kLookMs = 2000;

  private:
    void Renew();
    void Look(bool folder);

    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTimer look_;
    std::string path_;
    bool folderChanged_ = false;
    bool reading_ = false;
    std::thread reader_;
    std::mutex readMutex_;
    std::optional<FinishedRead> finished_;
};
