#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPrintDialog>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_run.h"
#include "file_system.h"
#include "results_table.h"

namespace murako::fakes {

// Runs the event loop until done() holds; false after timeoutMs.
template <typename Done>
bool WaitUntil(Done done, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// The control of that object name in window; a test failure when there is none.
template <typename T>
T* FindControl(const QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

inline std::vector<std::vector<std::string>> Cells(const ResultsTable& table)
{
    std::vector<std::vector<std::string>> cells;
    for (int32_t row = 0; row < table.Rows(); ++row)
        cells.push_back({table.TextAt(row, 0), table.TextAt(row, 1), table.TextAt(row, 2)});
    return cells;
}

// The real file system with two gates: one before every name of a listing opened by full path (the run's
// own listing), one before opening the subdirectory named blockedSubdirectory (a walk). The subdirectory
// named refusedSubdirectory cannot be opened, as if its permissions forbade it.
class GatedFileSystem : public FileSystem {
public:
    explicit GatedFileSystem(std::shared_ptr<FileSystem> real) : real_(std::move(real)) {}

    Gate listing;
    Gate walk;
    std::string blockedSubdirectory;
    std::string refusedSubdirectory;
    std::atomic<int> openDirectories{0};

    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) override
    {
        return Wrap(real_->Open(path, failure), true);
    }

    // Every directory handle closed: the run that used them has returned.
    bool Idle() const { return openDirectories.load() == 0; }

private:
    class GatedDirectory : public ForwardingDirectory {
    public:
        GatedDirectory(std::unique_ptr<Directory> inner, GatedFileSystem& owner, bool opened)
            : ForwardingDirectory(std::move(inner)), owner_(owner), openedByPath_(opened)
        {
            ++owner_.openDirectories;
        }
        ~GatedDirectory() override { --owner_.openDirectories; }
        bool NextName(std::string_view& name) override
        {
            if (openedByPath_)
                owner_.listing.Pass();
            return inner_->NextName(name);
        }
        std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
        {
            if (name == owner_.blockedSubdirectory)
                owner_.walk.Pass();
            if (name == owner_.refusedSubdirectory) {
                failure = ReadFailure::Permission;
                return nullptr;
            }
            return owner_.Wrap(inner_->OpenSubdirectory(name, failure), false);
        }

    private:
        GatedFileSystem& owner_;
        bool openedByPath_;
    };

    std::unique_ptr<Directory> Wrap(std::unique_ptr<Directory> inner, bool openedByPath)
    {
        if (!inner)
            return nullptr;
        return std::make_unique<GatedDirectory>(std::move(inner), *this, openedByPath);
    }

    std::shared_ptr<FileSystem> real_;
};

// While it lives, answers the modal windows that open as a user would: OK or Cancel in the printer dialog,
// after whileDialogOpen has run, OK in any message box; and remembers what they said.
class ModalAnswerer {
public:
    struct Message {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    explicit ModalAnswerer(bool acceptPrinterDialog = true, std::function<void()> whileDialogOpen = {})
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, acceptPrinterDialog, whileDialogOpen] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QPrintDialog*>(modal)) {
                ++printerDialogs;
                if (whileDialogOpen)
                    whileDialogOpen();
                acceptPrinterDialog ? dialog->accept() : dialog->reject();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer_.start(20);
    }

    int printerDialogs = 0;
    std::vector<Message> messages;

private:
    QTimer timer_;
};

}  // namespace murako::fakes
