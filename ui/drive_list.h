#pragma once

#include <QComboBox>
#include <QString>
#include <vector>

namespace murako {

struct Volume {
    QString rootPath;
    QString label;  // empty when the volume has none
    QString device{};          // what is mounted there, such as /dev/sda1; empty when unknown
    QString fileSystemType{};  // such as ext4; empty when unknown
};

// The mounted volumes a person stores files on: kernel, device and sandbox mounts left out, "/" always in.
std::vector<Volume> UserVolumes();

// The drive list: one entry per volume, its text beginning with the volume's root path, its tooltip the whole
// root path with the device and the file system. A text too long to show loses its middle, so that volumes
// mounted under one long parent can be told apart; the drop-down list is as wide as its widest entry.
class DriveList : public QComboBox {
public:
    explicit DriveList(QWidget* parent = nullptr);

    // The chosen entry's text as the closed list shows it.
    QString ShownDrive() const;
    void showPopup() override;

    void SetVolumes(const std::vector<Volume>& volumes);
    QString Drive() const { return currentText(); }
    QString RootPath() const;
    // The entry of the volume holding path (the deepest root above it); -1 when none does.
    int IndexOfVolume(const QString& path) const;
    // Chooses the volume holding path without raising the change event.
    void ShowVolumeOf(const QString& path);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace murako
