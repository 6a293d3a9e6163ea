// The option panel's rules, driven through the real main window: clicks on Auto boxes, radio items and
// buttons, typing into spin edits, the file choosers answered by the dialog script, and the look of
// disabled options and of the status panels; the captions and ranges the option vocabulary gives.
#include "comparewindow.h"
#include "guitest.h"
#include "radiogroup.h"
#include "spinedit.h"
#include "vocabulary.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <span>

class OptionPanelTest : public BenchTest {
    Q_OBJECT
private Q_SLOTS:
    void init() { startBench(); }
    void cleanup() { stopBench(); }

    void startState();
    void enableAllOptionsAndBack();
    void autoBoxRestoresDefault_data();
    void autoBoxRestoresDefault();
    void flagChangedOutsideItsBoxRunsNoRule();
    void customPowerFollowsMetric();
    void bruteForceWithdrawsPriority();
    void radiusFollowsRange();
    void earlyTerminationLimit();
    void maxDataFollowsLoadedLineCount();
    void spinEditTypedValueClampedOnFocusLoss();
    void spinEditReadingAndWriting_data();
    void spinEditReadingAndWriting();
    void chooserSetsOrKeepsPath_data();
    void chooserSetsOrKeepsPath();
    void disabledOptionsLookDisabled();
    void captionsGreyWithTheirControls();
    void statusPanelsShowTextsWhole();
    void captionsAndRangesComeFromTheVocabulary();

private:
    /// Clicks near the left edge, on the indicator of a check box or radio button stretched by its layout.
    void click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {},
                          QPoint(std::min(8, button->width() / 2), button->height() / 2));
    }
    void clickItem(RadioGroup* group, int item) { click(group->item(item)); }

    /// The option controls that Auto boxes and "Enable all options" switch, in panel order.
    QList<QWidget*> optionControls() {
        MainWindow& w = form1();
        return {w.SpinEdit1,    w.SpinEdit2,    w.Edit3,        w.SpinEdit3, w.RadioGroup1, w.RadioGroup2,
                w.RadioButton1, w.RadioButton2, w.RadioButton3, w.SpinEdit5, w.RadioGroup4, w.RadioGroup5};
    }
    QList<QCheckBox*> autoBoxes() {
        QList<QCheckBox*> boxes;
        for (const char* name : {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox6",
                                 "CheckBox7", "CheckBox8", "CheckBox9", "CheckBox10"})
            boxes.append(control<QCheckBox>(name));
        return boxes;
    }
    void verifyDefaults() {
        MainWindow& w = form1();
        QCOMPARE(w.SpinEdit1->value(), 1);
        QCOMPARE(w.SpinEdit2->value(), 2);
        QCOMPARE(w.Edit3->text(), QStringLiteral("0.0"));
        QCOMPARE(w.SpinEdit3->value(), 1000);
        QCOMPARE(w.RadioGroup1->itemIndex(), 1);
        QCOMPARE(w.RadioGroup2->itemIndex(), 1);
        QVERIFY(w.RadioButton1->isChecked());
        QCOMPARE(w.SpinEdit5->value(), 1);
        QCOMPARE(w.RadioGroup4->itemIndex(), 5);
        QCOMPARE(w.RadioGroup5->itemIndex(), 3);
    }
};

void OptionPanelTest::startState() {
    MainWindow& w = form1();
    QCOMPARE(w.windowTitle(), QStringLiteral("KNN"));
    verifyDefaults();
    for (QWidget* option : optionControls())
        QVERIFY2(!option->isEnabled(), qPrintable(option->objectName()));
    for (QCheckBox* box : autoBoxes()) {
        QVERIFY(box->isChecked());
        QCOMPARE(box->text(), QStringLiteral("Auto"));
    }
    for (const char* flag : {"DisableNNAmount", "DisableDimensions", "DisableEpsilon", "DisableMaxData",
                             "DisableDistances", "DisableSearchMode", "DisableSearchRange", "DisableBS",
                             "DisableSplit", "DisableShrink", "DisableBreak", "DisableAll"})
        QVERIFY2(control<QAction>(flag)->isChecked(), flag);
    QVERIFY(!w.SpinEdit4->isEnabled());
    QCOMPARE(w.SpinEdit4->value(), 2);
    QVERIFY(!w.Edit4->isEnabled());
    QCOMPARE(w.Edit4->text(), QStringLiteral("0.0"));
    // Early termination starts ticked while its limit is disabled at 0.
    QVERIFY(w.CheckBox11->isChecked());
    QVERIFY(!w.SpinEdit6->isEnabled());
    QCOMPARE(w.SpinEdit6->value(), 0);
    QVERIFY(w.CheckBox12->isChecked() && w.CheckBox12->isEnabled());
    QVERIFY(w.CheckBox13->isChecked() && w.CheckBox13->isEnabled());
    QCOMPARE(w.BitBtn2->text(), QStringLiteral("Enable all options"));
    QCOMPARE(w.BitBtn1->toolTip(), QStringLiteral("Perform search"));
    QCOMPARE(w.BitBtn3->toolTip(), QStringLiteral("Perform search"));
    QCOMPARE(w.statusText(0), QStringLiteral("Input not loaded"));
    QCOMPARE(w.statusText(1), QStringLiteral("Query not loaded"));
    QCOMPARE(w.statusText(2), QString());
    QVERIFY(w.Edit1->text().endsWith(QStringLiteral("data.pts")));
    QVERIFY(w.Edit2->text().endsWith(QStringLiteral("query.pts")));
    QVERIFY(!form2().isVisible());
}

void OptionPanelTest::enableAllOptionsAndBack() {
    MainWindow& w = form1();
    click(w.BitBtn2);
    QVERIFY(!control<QAction>("DisableAll")->isChecked());
    QCOMPARE(w.BitBtn2->text(), QStringLiteral("Default all options"));
    for (QCheckBox* box : autoBoxes())
        QVERIFY(!box->isChecked());
    for (QWidget* option : optionControls())
        QVERIFY2(option->isEnabled(), qPrintable(option->objectName()));
    QVERIFY(!w.SpinEdit4->isEnabled());
    QVERIFY(!w.Edit4->isEnabled());
    QVERIFY(!w.SpinEdit6->isEnabled());
    QVERIFY(w.CheckBox11->isChecked());

    // Change everything, then let the second click restore every default.
    clickItem(w.RadioGroup1, 3);
    clickItem(w.RadioGroup2, 0);
    click(w.RadioButton2);
    clickItem(w.RadioGroup4, 0);
    clickItem(w.RadioGroup5, 1);
    w.SpinEdit1->setValue(7);
    w.SpinEdit5->setValue(9);
    w.Edit3->setText(QStringLiteral("0.5"));
    w.Edit4->setText(QStringLiteral("2.5"));
    w.SpinEdit4->setValue(5);
    click(w.CheckBox11);
    click(w.CheckBox11);
    w.SpinEdit6->setValue(30);

    click(w.BitBtn2);
    QCOMPARE(w.BitBtn2->text(), QStringLiteral("Enable all options"));
    verifyDefaults();
    for (QCheckBox* box : autoBoxes())
        QVERIFY(box->isChecked());
    for (QWidget* option : optionControls())
        QVERIFY2(!option->isEnabled(), qPrintable(option->objectName()));
    QVERIFY(!w.CheckBox11->isChecked());
    QVERIFY(!w.SpinEdit6->isEnabled());
    QCOMPARE(w.SpinEdit6->value(), 0);
    QVERIFY(!w.SpinEdit4->isEnabled());
    QCOMPARE(w.SpinEdit4->value(), 5);
    QVERIFY(!w.Edit4->isEnabled());
    QCOMPARE(w.Edit4->text(), QStringLiteral("2.5"));
}

void OptionPanelTest::autoBoxRestoresDefault_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("option");
    QTest::addRow("NN Amount") << "CheckBox2"
                               << "SpinEdit1";
    QTest::addRow("Dimensions") << "CheckBox1"
                                << "SpinEdit2";
    QTest::addRow("Error bound") << "CheckBox3"
                                 << "Edit3";
    QTest::addRow("Max data") << "CheckBox4"
                              << "SpinEdit3";
    QTest::addRow("Distance metric") << "CheckBox5"
                                     << "RadioGroup1";
    QTest::addRow("Search mode") << "CheckBox6"
                                 << "RadioGroup2";
    QTest::addRow("Search range") << "CheckBox7"
                                  << "RadioButton2";
    QTest::addRow("Tree bucket size") << "CheckBox8"
                                      << "SpinEdit5";
    QTest::addRow("Splitting rule") << "CheckBox9"
                                    << "RadioGroup4";
    QTest::addRow("Shrinking rule") << "CheckBox10"
                                    << "RadioGroup5";
}

void OptionPanelTest::autoBoxRestoresDefault() {
    QFETCH(QString, box);
    QFETCH(QString, option);
    MainWindow& w = form1();
    auto* autoBox = control<QCheckBox>(qPrintable(box));
    auto* target = control<QWidget>(qPrintable(option));

    click(autoBox);
    QVERIFY(target->isEnabled());
    // Move the option off its default by hand.
    if (auto* spin = qobject_cast<SpinEdit*>(target))
        spin->setValue(3);
    else if (auto* edit = qobject_cast<QLineEdit*>(target))
        edit->setText(QStringLiteral("0.25"));
    else if (auto* group = qobject_cast<RadioGroup*>(target))
        clickItem(group, 0);
    else
        click(qobject_cast<QRadioButton*>(target));

    click(autoBox);
    QVERIFY(!target->isEnabled());
    verifyDefaults();
    QVERIFY(w.SpinEdit4->isEnabled() == false && w.Edit4->isEnabled() == false);
}

void OptionPanelTest::flagChangedOutsideItsBoxRunsNoRule() {
    MainWindow& w = form1();
    w.DisableNNAmount->setChecked(false);
    QVERIFY(!w.CheckBox2->isChecked());
    QVERIFY(!w.SpinEdit1->isEnabled());
}

void OptionPanelTest::customPowerFollowsMetric() {
    MainWindow& w = form1();
    click(w.CheckBox5);
    clickItem(w.RadioGroup1, 3);
    QVERIFY(w.SpinEdit4->isEnabled());
    w.SpinEdit4->setValue(3);
    clickItem(w.RadioGroup1, 0);
    QVERIFY(!w.SpinEdit4->isEnabled());
    clickItem(w.RadioGroup1, 3);
    QVERIFY(w.SpinEdit4->isEnabled());
    click(w.CheckBox5);
    QCOMPARE(w.RadioGroup1->itemIndex(), 1);
    QVERIFY(!w.SpinEdit4->isEnabled());
    QCOMPARE(w.SpinEdit4->value(), 3);
}

void OptionPanelTest::bruteForceWithdrawsPriority() {
    MainWindow& w = form1();
    click(w.CheckBox6);
    clickItem(w.RadioGroup2, 0);
    click(w.CheckBox7);
    QVERIFY(w.RadioButton1->isEnabled());
    QVERIFY(w.RadioButton2->isEnabled());
    QVERIFY(!w.RadioButton3->isEnabled());

    clickItem(w.RadioGroup2, 2);
    QVERIFY(w.RadioButton3->isEnabled());
    click(w.RadioButton3);
    QVERIFY(w.RadioButton3->isChecked());
    clickItem(w.RadioGroup2, 0);
    QVERIFY(w.RadioButton1->isChecked());
    QVERIFY(!w.RadioButton3->isEnabled());

    // A tree mode offers priority again only while the range is set by hand.
    click(w.CheckBox7);
    clickItem(w.RadioGroup2, 1);
    QVERIFY(!w.RadioButton3->isEnabled());
}

void OptionPanelTest::radiusFollowsRange() {
    MainWindow& w = form1();
    click(w.CheckBox7);
    click(w.RadioButton2);
    QVERIFY(w.Edit4->isEnabled());
    w.Edit4->setText(QStringLiteral("1.5"));
    click(w.RadioButton1);
    QVERIFY(!w.Edit4->isEnabled());
    QCOMPARE(w.Edit4->text(), QStringLiteral("1.5"));
    click(w.RadioButton2);
    click(w.RadioButton3);
    QVERIFY(!w.Edit4->isEnabled());
}

void OptionPanelTest::earlyTerminationLimit() {
    MainWindow& w = form1();
    click(w.CheckBox11);
    QVERIFY(!w.DisableBreak->isChecked());
    QVERIFY(!w.SpinEdit6->isEnabled());
    click(w.CheckBox11);
    QVERIFY(w.SpinEdit6->isEnabled());
    w.SpinEdit6->setValue(40);
    click(w.CheckBox11);
    QVERIFY(!w.SpinEdit6->isEnabled());
    QCOMPARE(w.SpinEdit6->value(), 0);
}

void OptionPanelTest::maxDataFollowsLoadedLineCount() {
    MainWindow& w = form1();
    QByteArray lines;
    for (int i = 0; i < 50; ++i)
        lines += QByteArray::number(i) + " " + QByteArray::number(i % 7) + "\n";
    w.Edit1->setText(writeFile(QStringLiteral("fifty.pts"), lines));
    w.Edit2->setText(writeFile(QStringLiteral("one.pts"), "1 1\n"));
    click(w.CheckBox4);
    click(w.BitBtn3);
    QCOMPARE(w.statusText(0), QStringLiteral("Input loaded"));
    QCOMPARE(w.SpinEdit3->maxValue(), 50);
    QCOMPARE(w.SpinEdit3->value(), 1000);
    click(w.CheckBox4);
    QCOMPARE(w.SpinEdit3->value(), 50);
}

void OptionPanelTest::spinEditTypedValueClampedOnFocusLoss() {
    MainWindow& w = form1();
    click(w.CheckBox2);
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.SpinEdit1->setFocus();
    w.SpinEdit1->selectAll();
    QTest::keyClicks(w.SpinEdit1, QStringLiteral("5000"));
    QCOMPARE(w.SpinEdit1->text(), QStringLiteral("5000"));
    QCOMPARE(w.SpinEdit1->value(), 5000);
    w.Edit1->setFocus();
    QTRY_COMPARE(w.SpinEdit1->text(), QStringLiteral("1000"));
    QTest::keyClick(w.SpinEdit1, Qt::Key_Up);
    QCOMPARE(w.SpinEdit1->value(), 1000);
    QTest::keyClick(w.SpinEdit1, Qt::Key_Down);
    QCOMPARE(w.SpinEdit1->value(), 999);
}

void OptionPanelTest::spinEditReadingAndWriting_data() {
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("read");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("shown");
    QTest::addRow("integer") << 1 << 100 << "42" << 42 << 7 << "7";
    QTest::addRow("blanks around") << 1 << 100 << " 42 " << 42 << 7 << "7";
    QTest::addRow("not a number") << 1 << 100 << "4x" << 1 << 500 << "100";
    QTest::addRow("empty") << 0 << 1000 << "" << 0 << -3 << "0";
    QTest::addRow("decimal") << 1 << 100 << "2.5" << 1 << 0 << "1";
    QTest::addRow("beyond int") << 1 << 100 << "99999999999" << 1 << 100 << "100";
    QTest::addRow("equal bounds clamp nothing") << 1 << 1 << "1000" << 1000 << 1000 << "1000";
}

void OptionPanelTest::spinEditReadingAndWriting() {
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QString, typed);
    QFETCH(int, read);
    QFETCH(int, written);
    QFETCH(QString, shown);
    SpinEdit spin(lower, upper, lower);
    spin.setFocus();
    spin.selectAll();
    QTest::keyClick(&spin, Qt::Key_Delete);
    QTest::keyClicks(&spin, typed);
    QCOMPARE(spin.value(), read);
    spin.setValue(written);
    QCOMPARE(spin.text(), shown);
}

void OptionPanelTest::chooserSetsOrKeepsPath_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("pathBox");
    QTest::addColumn<bool>("confirmed");
    QTest::addRow("input, confirmed") << "SpeedButton1"
                                      << "Edit1" << true;
    QTest::addRow("input, cancelled") << "SpeedButton1"
                                      << "Edit1" << false;
    QTest::addRow("query, confirmed") << "SpeedButton2"
                                      << "Edit2" << true;
    QTest::addRow("query, cancelled") << "SpeedButton2"
                                      << "Edit2" << false;
}

void OptionPanelTest::chooserSetsOrKeepsPath() {
    QFETCH(QString, button);
    QFETCH(QString, pathBox);
    QFETCH(bool, confirmed);
    auto* box = control<QLineEdit>(qPrintable(pathBox));
    const QString before = box->text();
    Dialogs::setNextFileName(confirmed ? std::optional<QString>(QStringLiteral("/some/chosen.txt"))
                                       : std::nullopt);
    click(control<QToolButton>(qPrintable(button)));
    QCOMPARE(box->text(), confirmed ? QStringLiteral("/some/chosen.txt") : before);
    const Dialogs::FileRequest request = Dialogs::lastFileRequest();
    QCOMPARE(request.title, QStringLiteral("Select file"));
    // The chooser opens beside the file the box named, with the samples' .pts files shown.
    QCOMPARE(request.folder(), QFileInfo(before).absolutePath());
    QCOMPARE(request.filters.first(), QStringLiteral("Point files (*.pts *.txt)"));
    QCOMPARE(request.filters.at(1), QStringLiteral("Text files (*.txt)"));
    QCOMPARE(request.filters.size(), 5);
    QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
    QVERIFY(!request.forSaving);
}

void OptionPanelTest::disabledOptionsLookDisabled() {
    MainWindow& w = form1();
    const QPalette usual = QApplication::palette();
    QList<QAbstractButton*> options = {w.RadioButton1, w.RadioButton2, w.RadioButton3};
    for (RadioGroup* group : {w.RadioGroup1, w.RadioGroup2, w.RadioGroup4, w.RadioGroup5})
        for (int i = 0; group->item(i); ++i)
            options.append(group->item(i));
    for (QAbstractButton* option : options) {
        QVERIFY(!option->isEnabled());
        const QColor drawn = option->palette().color(QPalette::Disabled, QPalette::WindowText);
        QVERIFY2(drawn == usual.color(QPalette::Disabled, QPalette::WindowText), qPrintable(option->text()));
        QVERIFY(drawn != option->palette().color(QPalette::Active, QPalette::WindowText));
    }
    // The blue captions stay blue while they are enabled.
    QCOMPARE(w.CheckBox13->palette().color(QPalette::Active, QPalette::WindowText), QColor(0, 0, 255));
}

void OptionPanelTest::captionsGreyWithTheirControls() {
    MainWindow& w = form1();
    auto* range = control<QGroupBox>("GroupBox2");
    const auto verifyCaptions = [&] {
        const std::pair<const char*, QWidget*> captions[] = {
            {"PowerCaption", w.SpinEdit4}, {"RadiusCaption", w.Edit4}, {"VisitLimitCaption", w.SpinEdit6}};
        for (const auto& [caption, labelled] : captions)
            QVERIFY2(control<QLabel>(caption)->isEnabled() == labelled->isEnabled(), caption);
        const QPalette shown = range->palette();
        const bool greyed = shown.color(QPalette::Active, QPalette::WindowText) ==
                            shown.color(QPalette::Disabled, QPalette::WindowText);
        QCOMPARE(greyed, !w.RadioButton1->isEnabled());
        // The Auto box inside keeps its colours.
        QVERIFY(w.CheckBox7->palette().color(QPalette::Active, QPalette::WindowText) !=
                w.CheckBox7->palette().color(QPalette::Disabled, QPalette::WindowText));
    };
    verifyCaptions();
    click(w.BitBtn2);
    verifyCaptions();
    clickItem(w.RadioGroup1, 3);
    click(w.RadioButton2);
    click(w.CheckBox11);
    QVERIFY(w.SpinEdit4->isEnabled() && w.Edit4->isEnabled() && !w.SpinEdit6->isEnabled());
    verifyCaptions();
    click(w.CheckBox11);
    QVERIFY(w.SpinEdit6->isEnabled());
    verifyCaptions();
    click(w.BitBtn2);
    verifyCaptions();
}

void OptionPanelTest::statusPanelsShowTextsWhole() {
    const QList<std::pair<int, QString>> texts = {{0, QStringLiteral("Input not loaded")},
                                                  {1, QStringLiteral("Query not loaded")},
                                                  {2, QStringLiteral("Now searching for NN...")},
                                                  {2, QStringLiteral("Outputting results...")},
                                                  {2, QStringLiteral("Outputting query points...")}};
    for (const auto& [panel, text] : texts) {
        form1().setStatusText(panel, text);
        QApplication::processEvents();
        auto* label = control<QLabel>(qPrintable(QStringLiteral("StatusPanel%1").arg(panel)));
        QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width(),
                 qPrintable(text));
    }
}

void OptionPanelTest::captionsAndRangesComeFromTheVocabulary() {
    // The vocabulary's captions, with or without their accelerator marks.
    const auto vocabulary = [](std::span<const std::string_view> captions, bool plain) {
        QStringList texts;
        for (const std::string_view caption : captions)
            texts << QString::fromStdString(plain ? knn::PlainCaption(caption) : std::string(caption));
        return texts;
    };
    const auto groupTexts = [](const RadioGroup* group) {
        QStringList texts;
        for (int i = 0; group->item(i); ++i)
            texts << group->item(i)->text();
        return texts;
    };
    const auto listTexts = [](const QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    };
    MainWindow& w = form1();
    QCOMPARE(groupTexts(w.RadioGroup4), vocabulary(knn::SplitCaptions, false));
    QCOMPARE(groupTexts(w.RadioGroup5), vocabulary(knn::ShrinkCaptions, false));
    // The compare lists offer the rules without their last item, Default.
    const CompareWindow& compare = *bench->compare;
    QCOMPARE(listTexts(compare.Structures), vocabulary(knn::ModeCaptions, true));
    QCOMPARE(listTexts(compare.Searches), vocabulary(knn::RangeCaptions, true));
    QCOMPARE(listTexts(compare.SplitRules), vocabulary(std::span(knn::SplitCaptions).first(5), true));
    QCOMPARE(listTexts(compare.ShrinkRules), vocabulary(std::span(knn::ShrinkCaptions).first(3), true));

    // The panel may stop below an open top, never beyond a limit or short of its lowest value.
    QCOMPARE(w.SpinEdit4->maxValue(), knn::PowerLimit.highest);
    const std::pair<const SpinEdit*, knn::IntLimit> ranges[] = {{w.SpinEdit1, knn::NeighbourLimit},
                                                                {w.SpinEdit4, knn::PowerLimit},
                                                                {w.SpinEdit5, knn::BucketLimit},
                                                                {w.SpinEdit6, knn::VisitLimit}};
    for (const auto& [edit, limit] : ranges) {
        QCOMPARE(edit->minValue(), limit.lowest);
        QVERIFY2(edit->maxValue() <= limit.highest, qPrintable(edit->objectName()));
    }
}

QTEST_MAIN(OptionPanelTest)
#include "test_optionpanel.moc"
