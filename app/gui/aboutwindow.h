// The About window (the "About" button and F1): the version, what each option of the main window does,
// and the format of the point files. Not modal: it stays open beside the windows it explains.
#pragma once

#include <QWidget>

class QTextBrowser;

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    QTextBrowser* text; ///< the help text
};
