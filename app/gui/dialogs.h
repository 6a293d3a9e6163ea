// Message boxes and file choosers of the test bench. Every modal dialog of the windows goes through
// here, so a test can script the answers (the next file name, or a cancel) and read the messages that
// would have been shown, without a modal loop ever blocking it.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

class Dialogs {
public:
    /// What a file chooser asks for.
    struct FileRequest {
        QString title;         ///< window title
        QStringList filters;   ///< name filters, the first preselected
        QString defaultSuffix; ///< appended to a typed name without one
        bool forSaving;        ///< save dialog (asks before overwriting) instead of open dialog
        QString startPath;     ///< a path the chooser starts from; empty for the working folder

        /// Where the chooser opens: the folder of startPath if that exists, else the working folder.
        QString folder() const;
    };

    /// A modal box with the text and one OK button.
    static void showMessage(QWidget* parent, const QString& text);
    /// The chosen path, or nothing when the user cancels.
    static std::optional<QString> chooseFile(QWidget* parent, const FileRequest& request);

    /// Scripted mode: no dialog opens; messages are recorded and choosers take the queued answers.
    static void setScripted(bool scripted);
    /// Queues the answer of the next file chooser; nothing means "cancel". Without a queued answer
    /// a scripted chooser cancels.
    static void setNextFileName(std::optional<QString> fileName);
    /// The texts of the messages shown in scripted mode since the last call, oldest first.
    static QStringList takeShownMessages();
    /// The request of the last file chooser, scripted or not.
    static FileRequest lastFileRequest();
};
