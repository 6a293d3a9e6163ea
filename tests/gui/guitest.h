// Shared set-up of the desktop tests: a freshly built test bench per test, scripted dialogs, controls
// found by object name, and point files written into a temporary folder.
#pragma once

#include "desktopbench.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "resultswindow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

/// Base of the test classes; each derived class declares its own test slots.
class BenchTest : public QObject {
protected:
    /// A new bench with the main window shown; dialogs answer from the script.
    void startBench() {
        Dialogs::setScripted(true);
        bench = std::make_unique<DesktopBench>();
        bench->build();
        QVERIFY(bench->built());
        bench->form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(bench->form1.get()));
    }

    void stopBench() {
        bench.reset();
        QVERIFY2(Dialogs::takeShownMessages().isEmpty(), "a message box was left unchecked");
    }

    MainWindow& form1() { return *bench->form1; }
    ResultsWindow& form2() { return *bench->form2; }

    /// The main window's control of that object name; the test fails when there is none.
    template <class Widget> Widget* control(const char* name) {
        auto* found = bench->form1->findChild<Widget*>(QString::fromLatin1(name));
        if (!found) qFatal("no control named %s", name);
        return found;
    }

    /// Writes text into a file of the temporary folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& text) {
        const QString path = files.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("could not write %s", qPrintable(path));
        return path;
    }

    std::unique_ptr<DesktopBench> bench;
    QTemporaryDir files;
};
