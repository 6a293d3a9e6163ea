// A titled group of radio buttons addressed by item index, the way the option panel uses them: one item
// is always selected, and selecting a different item (by the user or by code) emits `itemChanged` once.
#pragma once

#include <QGroupBox>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    /// The group is named `name` and its items `name` + "Item" + index.
    RadioGroup(const QString& name, const QString& title, const QStringList& items, int selected,
               QWidget* parent = nullptr);

    int itemIndex() const;
    /// Selects item i; selecting the item already selected does nothing.
    void setItemIndex(int i);
    QRadioButton* item(int i) const;

Q_SIGNALS:
    /// A different item became selected.
    void itemChanged(int index);

private:
    QButtonGroup* buttons; ///< the items, ids equal to item indices
};
