#pragma once

#include <QComboBox>
#include <QString>
#include <vector>

namespace murako {

struct Volume {
    QString rootPath;
    QString label;  // empty when the volume has none
};

// The mounted volumes a person stores files on: kernel, device and sandbox mounts left out, "/" always in.
std::vector<Volume> UserVolumes();

// The drive list: one entry per volume, its text beginning with the volume's root path.
class DriveList : public QComboBox {
public:
    explicit DriveList(QWidget* parent = nullptr);

    void SetVolumes(const std::vector<Volume>& volumes);
    QString Drive() const { return currentText(); }
    QString RootPath() const;
    // The entry of the volume holding path (the deepest root above it); -1 when none does.
    int IndexOfVolume(const QString& path) const;
    // Chooses the volume holding path without raising the change event.
    void ShowVolumeOf(const QString& path);
};

}  // namespace murako
