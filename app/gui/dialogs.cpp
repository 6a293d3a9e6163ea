// Modal dialogs behind one switch: real Qt dialogs for the user, scripted answers for tests.
#include "dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <deque>
#include <utility>

namespace {

struct ScriptState {
    bool scripted = false;                          ///< dialogs are answered from the script
    std::deque<std::optional<QString>> fileAnswers; ///< queued chooser answers, front first
    QStringList shownMessages;                      ///< messages recorded in scripted mode
    Dialogs::FileRequest lastRequest;               ///< the most recent chooser request
};

ScriptState& script() {
    static ScriptState state;
    return state;
}

} // namespace

void Dialogs::showMessage(QWidget* parent, const QString& text) {
    if (script().scripted) {
        script().shownMessages.append(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> Dialogs::chooseFile(QWidget* parent, const FileRequest& request) {
    script().lastRequest = request;
    if (script().scripted) {
        if (script().fileAnswers.empty()) return std::nullopt;
        std::optional<QString> answer = script().fileAnswers.front();
        script().fileAnswers.pop_front();
        return answer;
    }
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(request.forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setDirectory(request.folder());
    if (QFileInfo(request.startPath).isFile()) dialog.selectFile(request.startPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QString Dialogs::FileRequest::folder() const {
    const QDir start = QFileInfo(startPath).absoluteDir();
    return !startPath.isEmpty() && start.exists() ? start.absolutePath() : QDir::currentPath();
}

void Dialogs::setScripted(bool scripted) {
    script().scripted = scripted;
    script().fileAnswers.clear();
    script().shownMessages.clear();
}

void Dialogs::setNextFileName(std::optional<QString> fileName) {
    script().fileAnswers.push_back(std::move(fileName));
}

QStringList Dialogs::takeShownMessages() {
    return std::exchange(script().shownMessages, {});
}

Dialogs::FileRequest Dialogs::lastFileRequest() {
    return script().lastRequest;
}
