#pragma once
// Answers the file choosers and message boxes a command opens, as a user would.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace murako::fakes {

// Answers the file chooser with a path, and any message box after it with Yes (or OK), remembering the texts.
class FileDialogAnswerer {
public:
    explicit FileDialogAnswerer(QString path, QMessageBox::StandardButton answer = QMessageBox::Yes)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, path, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                // Still open after its question was answered No: the user gives up.
                if (answered_.contains(dialog)) {
                    dialog->reject();
                    return;
                }
                if (dialog->isVisible()) {
                    answered_ << dialog;
                    dialogTitles << dialog->windowTitle();
                    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                    ASSERT_NE(name, nullptr);
                    offered << dialog->directory().filePath(name->text());
                    if (inspect)
                        inspect(dialog);
                    // Typed into the name field, as selectFile leaves a focused field alone.
                    name->setText(path);
                    // Later, since a question it may ask needs this timer again.
                    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                }
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages << box->text();
                QAbstractButton* button = box->button(answer);
                (button ? button : box->button(QMessageBox::Ok))->click();
            }
        });
        timer_.start(20);
    }

    QStringList dialogTitles;
    QStringList offered;  // the folder and the name each chooser opened with
    QStringList messages;
    std::function<void(QFileDialog*)> inspect;  // called on each chooser before it is answered

private:
    QTimer timer_;
    QList<QObject*> answered_;
};

}  // namespace murako::fakes
