// The device list (control 1001): a report-style view with eight columns, grid
// lines, full-row selection and a check box in every row, whose status column
// (7) is painted as a progress bar, a failure bar or plain text. It shows a
// DeviceListModel; the reads below are the window's (and its tests') way to
// what a row shows.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QTableView>

class QPainter;

// How a status cell is drawn: the bar's percentage and colour and the text
// shown over the cell.
struct StatusCellStyle {
    int percent = 0;
    QColor barColor;
    QString text;
};

// The status-cell convention, for a status given as text: leading decimal
// digits give a bar of that many percent (green at exactly 100) and the text
// after at most three of them; a leading "-" a full red bar and the rest;
// anything else no bar and the text.
StatusCellStyle StatusCellStyleOf(const QString& statusText);
// The same from a status's numbers: a failure's full red bar, or a bar of
// percent percent (green at exactly 100), under text.
StatusCellStyle StatusCellStyleOf(int percent, bool failed, const QString& text);

// The bar's rectangle inside the cell rectangle rect for percent p: one pixel
// inside on the left and the bottom, p percent of the width, less 2 pixels,
// clipped to the cell; empty when nothing is to be drawn.
QRect ProgressBarRect(const QRect& rect, int percent);

// Paints one status cell into rect: its outline, its bar and its text.
void DrawStatusCell(QPainter& painter, const StatusCellStyle& style, const QColor& textColor,
                    const QColor& backgroundColor, const QRect& rect);

class CProcessList : public QTableView {
    Q_OBJECT
public:
    static constexpr int kStatusColumn = 7;
    static constexpr QRgb kBarColor = 0xF01015;  // stored as Windows COLORREF (0x00BBGGRR)

    explicit CProcessList(QWidget* parent = nullptr);
    ~CProcessList() override;

    // What the rows show, through the model.
    int GetItemCount() const;
    QString GetItemText(int row, int column) const;
    QString GetItemToolTip(int row, int column) const;
    // A cell's background; invalid for the list's own.
    QColor GetItemBackground(int row, int column) const;
    bool GetCheck(int row) const;
    bool SetCheck(int row, bool checked);
    bool IsRowSelected(int row) const;
    // Row under a point of the viewport, -1 for none.
    int HitTestRow(const QPoint& viewportPos) const;

signals:
    void rightClicked(int row);
    void columnClicked(int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
