#pragma once
// Small widget helpers of the main window: a captioned radio group with an
// item index, and plain widgets used as coloured lamps.

#include <QGroupBox>
#include <QRgb>
#include <QStringList>
#include <QtCharts/QChartView>

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

// A chart view that puts its axes and series into its chart only when it is
// first shown or drawn: building a chart's graphics costs start-up time, and
// the window's charts sit on tabs that are not open at start. The axis and
// series objects exist from the start, so data and ranges can be set at any
// time.
class TChartView : public QChartView {
    Q_OBJECT

public:
    explicit TChartView(QChart* chart, QWidget* parent = nullptr);
    void AddAxis(QAbstractAxis* axis, Qt::Alignment side);
    void AddSeries(QAbstractSeries* series, QAbstractAxis* xAxis, QAbstractAxis* yAxis);
    // Puts what was added so far into the chart; done on the first show.
    void Assemble();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct PendingAxis {
        QAbstractAxis* axis;
        Qt::Alignment side;
    };
    struct PendingSeries {
        QAbstractSeries* series;
        QAbstractAxis* xAxis;
        QAbstractAxis* yAxis;
    };
    QList<PendingAxis> pendingAxes;
    QList<PendingSeries> pendingSeries;
};
