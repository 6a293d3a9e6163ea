// Radio group: a QButtonGroup inside a group box, one column of items.
#include "radiogroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

RadioGroup::RadioGroup(const QString& name, const QString& title, const QStringList& items, int selected,
                       QWidget* parent)
    : QGroupBox(title, parent), buttons(new QButtonGroup(this)) {
    setObjectName(name);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(0);
    column->setContentsMargins(6, 2, 6, 2);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(name + QStringLiteral("Item") + QString::number(i));
        buttons->addButton(button, i);
        column->addWidget(button);
    }
    column->addStretch();
    buttons->button(selected)->setChecked(true);
    connect(buttons, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) Q_EMIT itemChanged(id);
    });
}

int RadioGroup::itemIndex() const {
    return buttons->checkedId();
}

void RadioGroup::setItemIndex(int i) {
    buttons->button(i)->setChecked(true);
}

QRadioButton* RadioGroup::item(int i) const {
    return qobject_cast<QRadioButton*>(buttons->button(i));
}
