// The device list (control 1001): a report-style list with eight columns, grid
// lines, full-row selection and a check box in every row, whose status column
// (7) is painted as a progress bar, a failure bar or plain text.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTableWidget>

#include <vector>

class QPainter;

// How a status text is drawn: the bar's percentage and colour and the text
// shown over the cell.
struct StatusCellStyle {
    int percent = 0;
    QColor barColor;
    QString text;
};

// The status-cell convention: leading decimal digits give a bar of that many
// percent (green at exactly 100) and the text after at most three of them; a
// leading "-" a full red bar and the rest; anything else no bar and the text.
StatusCellStyle StatusCellStyleOf(const QString& statusText);

// The bar's rectangle inside the cell rectangle rect for percent p: one pixel
// inside on the left and the bottom, p percent of the width, less 2 pixels,
// clipped to the cell; empty when nothing is to be drawn.
QRect ProgressBarRect(const QRect& rect, int percent);

class CProcessList : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kStatusColumn = 7;
    static constexpr QRgb kBarColor = 0xF01015;  // stored as Windows COLORREF (0x00BBGGRR)

    explicit CProcessList(QWidget* parent = nullptr);
    ~CProcessList() override;

    // The list-view operations the rest of the window uses.
    int InsertColumn(int column, const QString& title, int width);
    int GetItemCount() const { return rowCount(); }
    int InsertItem(int row, const QString& text);
    // Appends rows whose cells hold the given texts (from column 0), in one
    // insertion: a burst of thousands of rows costs the list one layout.
    void AppendRows(const std::vector<QStringList>& rows);
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    bool SetItemToolTip(int row, int column, const QString& text);
    QString GetItemToolTip(int row, int column) const;
    // A cell's background; an invalid colour gives it back to the list's own.
    bool SetItemBackground(int row, int column, const QColor& color);
    QColor GetItemBackground(int row, int column) const;
    bool GetCheck(int row) const;
    bool SetCheck(int row, bool checked);
    bool IsRowSelected(int row) const;
    bool DeleteAllItems();
    // Extended styles: grid lines (0x1), check boxes (0x4), full-row select (0x20).
    void SetExtendedStyle(unsigned style);
    unsigned GetExtendedStyle() const { return m_extendedStyle; }
    // Row under a point of the viewport, -1 for none.
    int HitTestRow(const QPoint& viewportPos) const;

    // Reorders whole rows so that the row for which goesBefore(a, b) answers
    // true comes first; a stable merge sort that asks only that question, so a
    // comparator that never answers "equal" is still well defined.
    void SortRows(const std::function<bool(int rowA, int rowB)>& goesBefore);

    // Paints one status cell into rect.
    void DrawProgressCell(int row, int column, QPainter& painter, const QColor& textColor,
                          const QColor& backgroundColor, const QRect& rect);

signals:
    void rightClicked(int row);
    void columnClicked(int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QTableWidgetItem* NewItem(int column, const QString& text) const;

    unsigned m_extendedStyle = 0;
};
