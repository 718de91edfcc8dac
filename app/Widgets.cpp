#include "Widgets.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QtCharts/QAbstractAxis>
#include <QtCharts/QAbstractSeries>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent), buttons(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    const int columnCount = qMax(1, columns);
    const int rows = qMax(1, int((items.size() + columnCount - 1) / columnCount));
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        buttons->addButton(button, i);
        grid->addWidget(button, i % rows, i / rows);
    }
    connect(buttons, &QButtonGroup::idClicked, this, &TRadioGroup::itemClicked);
}

int TRadioGroup::Count() const {
    return int(buttons->buttons().size());
}

int TRadioGroup::ItemIndex() const {
    return buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its checked button directly.
    if (QAbstractButton* checked = buttons->checkedButton()) {
        buttons->setExclusive(false);
        checked->setChecked(false);
        buttons->setExclusive(true);
    }
}

QRadioButton* TRadioGroup::Item(int index) const {
    return qobject_cast<QRadioButton*>(buttons->button(index));
}

void SetPanelColor(QWidget* panel, QRgb colour) {
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(colour));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
    panel->update();
}

QRgb PanelColor(const QWidget* panel) {
    return panel->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
}

QLabel* NewPlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

TChartView::TChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {}

void TChartView::AddAxis(QAbstractAxis* axis, Qt::Alignment side) {
    pendingAxes.append({axis, side});
}

void TChartView::AddSeries(QAbstractSeries* series, QAbstractAxis* xAxis, QAbstractAxis* yAxis) {
    pendingSeries.append({series, xAxis, yAxis});
}

void TChartView::Assemble() {
    for (const PendingAxis& a : pendingAxes)
        chart()->addAxis(a.axis, a.side);
    for (const PendingSeries& s : pendingSeries) {
        chart()->addSeries(s.series);
        s.series->attachAxis(s.xAxis);
        s.series->attachAxis(s.yAxis);
    }
    pendingAxes.clear();
    pendingSeries.clear();
}

void TChartView::showEvent(QShowEvent* event) {
    Assemble();
    QChartView::showEvent(event);
}
