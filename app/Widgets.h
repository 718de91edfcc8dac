#pragma once
// Small widget helpers of the main window: a captioned radio group with an
// item index, and plain widgets used as coloured lamps.

#include <QGroupBox>
#include <QRgb>
#include <QStringList>

class QButtonGroup;
class QLabel;
class QRadioButton;

// A label that shows its text as it stands: text from the adapter, the
// encoder, files or the network must never be taken for markup.
QLabel* NewPlainLabel(const QString& text, QWidget* parent);

// A group box holding one radio button per item, laid out in columns (filled
// top to bottom, then left to right). Exactly one item is selected, or none.
class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns,
                QWidget* parent = nullptr);

    int Count() const;
    // Index of the selected item, -1 when none is selected.
    int ItemIndex() const;
    // Selects an item (-1 selects none); emits nothing.
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;

signals:
    // The user clicked the item with this index.
    void itemClicked(int index);

private:
    QButtonGroup* buttons;
};

// Paints the widget's whole background in `colour` (0xRRGGBB; a panel used as a
// lamp). Children inherit the colour unless they set their own.
void SetPanelColor(QWidget* panel, QRgb colour);
// The background colour of a panel as 0xRRGGBB (no alpha), as set by SetPanelColor.
QRgb PanelColor(const QWidget* panel);
