#include "app/CProcessList.h"

#include "platform/Numbers.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Windows stores colours as 0x00BBGGRR.
QColor fromColorRef(QRgb colorRef)
{
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

// Paints the status column through the list's DrawProgressCell; every other
// column is drawn by the list itself.
class StatusDelegate : public QStyledItemDelegate {
public:
    explicit StatusDelegate(CProcessList* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (index.column() != CProcessList::kStatusColumn) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        // The cell rectangle, one pixel in from the left and up from the bottom.
        QRect rect = option.rect.adjusted(1, 0, 0, -1);
        const QPalette& palette = option.palette;
        painter->save();
        // A selected row's cell is drawn in the selection colours, so that its
        // text stays readable.
        if (option.state & QStyle::State_Selected)
            m_list->DrawProgressCell(index.row(), index.column(), *painter, palette.color(QPalette::HighlightedText),
                                     palette.color(QPalette::Highlight), rect);
        else
            m_list->DrawProgressCell(index.row(), index.column(), *painter, palette.color(QPalette::WindowText),
                                     palette.color(QPalette::Base), rect);
        painter->restore();
    }

private:
    CProcessList* m_list;
};

} // namespace

StatusCellStyle StatusCellStyleOf(const QString& t)
{
    StatusCellStyle style;
    style.barColor = fromColorRef(CProcessList::kBarColor);
    const int len = t.size();
    if (len > 0 && isAsciiDigit(t[0])) {
        // The value of all the leading digits, as atoi reads it (kept from
        // overflowing); the text skips at most three of them.
        style.percent = static_cast<int>(
            lynx::platform::LeadingDigits(std::u16string_view(reinterpret_cast<const char16_t*>(t.utf16()), len)));
        int n = 1;
        if (len > 1 && isAsciiDigit(t[1]))
            ++n;
        if (len > 2 && isAsciiDigit(t[2]))
            ++n;
        style.text = t.mid(n);
        if (style.percent == 100)
            style.barColor = QColor(0, 255, 0);
    } else if (len > 0 && t[0] == QLatin1Char('-')) {
        style.percent = 100;
        style.barColor = QColor(255, 0, 0);
        style.text = t.mid(1);
    } else {
        style.text = t;
    }
    return style;
}

QRect ProgressBarRect(const QRect& rect, int percent)
{
    // In the original's edge coordinates: right and bottom are exclusive.
    const int left = rect.left() + 1;
    const int top = rect.top();
    const int bottom = rect.top() + rect.height() - 1;
    const int cellRight = rect.left() + rect.width();
    long long right = static_cast<long long>(rect.width()) * percent / 100 + left;
    if (right > 2)
        right -= 2;
    // A number above 100 would run past the cell: the bar stops where a full
    // bar stops.
    right = std::min<long long>(right, cellRight - 1);
    if (right <= left || bottom <= top)
        return QRect();
    return QRect(QPoint(left, top), QPoint(static_cast<int>(right) - 1, bottom - 1));
}

CProcessList::CProcessList(QWidget* parent) : QTableWidget(parent)
{
    setColumnCount(0);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(false);
    setSortingEnabled(false);
    setItemDelegate(new StatusDelegate(this));
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CProcessList::columnClicked);
}

CProcessList::~CProcessList() = default;

int CProcessList::InsertColumn(int column, const QString& title, int width)
{
    insertColumn(column);
    auto* header = new QTableWidgetItem(title);
    header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, width);
    return column;
}

int CProcessList::InsertItem(int row, const QString& text)
{
    row = std::clamp(row, 0, rowCount());
    insertRow(row);
    for (int c = 0; c < columnCount(); ++c) {
        auto* item = new QTableWidgetItem(c == 0 ? text : QString());
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (c == 0 && (m_extendedStyle & 0x4)) {
            flags |= Qt::ItemIsUserCheckable;
            item->setCheckState(Qt::Unchecked);
        }
        item->setFlags(flags);
        setItem(row, c, item);
    }
    return row;
}

bool CProcessList::SetItemText(int row, int column, const QString& text)
{
    QTableWidgetItem* it = item(row, column);
    if (!it)
        return false;
    it->setText(text);
    return true;
}

bool CProcessList::SetItemToolTip(int row, int column, const QString& text)
{
    QTableWidgetItem* it = item(row, column);
    if (!it)
        return false;
    it->setToolTip(text);
    return true;
}

QString CProcessList::GetItemText(int row, int column) const
{
    QTableWidgetItem* it = item(row, column);
    return it ? it->text() : QString();
}

bool CProcessList::GetCheck(int row) const
{
    QTableWidgetItem* it = item(row, 0);
    return it && it->checkState() == Qt::Checked;
}

bool CProcessList::SetCheck(int row, bool checked)
{
    QTableWidgetItem* it = item(row, 0);
    if (!it)
        return false;
    it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return true;
}

bool CProcessList::IsRowSelected(int row) const
{
    QTableWidgetItem* it = item(row, 0);
    return it && it->isSelected();
}

bool CProcessList::DeleteAllItems()
{
    clearContents();
    setRowCount(0);
    return true;
}

void CProcessList::SetExtendedStyle(unsigned style)
{
    m_extendedStyle = style;
    setShowGrid(style & 0x1);
    setSelectionBehavior((style & 0x20) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

int CProcessList::HitTestRow(const QPoint& viewportPos) const
{
    QModelIndex index = indexAt(viewportPos);
    return index.isValid() ? index.row() : -1;
}

void CProcessList::SortRows(const std::function<bool(int, int)>& goesBefore)
{
    const int rows = rowCount();
    std::vector<int> order(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i)
        order[static_cast<size_t>(i)] = i;
    // Bottom-up merge sort. The right-hand row is taken first only when it goes
    // strictly before the left-hand one: asked both ways, a tie answers the
    // same twice, whether the comparator says "equal" ("no" both ways) or never
    // does ("yes" both ways), and on a tie the left-hand row stays first. So
    // equal keys keep their order for either comparator.
    const auto strictlyBefore = [&](int x, int y) { return goesBefore(x, y) && !goesBefore(y, x); };
    std::vector<int> buffer(order.size());
    for (size_t width = 1; width < order.size(); width *= 2) {
        for (size_t lo = 0; lo < order.size(); lo += 2 * width) {
            size_t mid = std::min(lo + width, order.size());
            size_t hi = std::min(lo + 2 * width, order.size());
            size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi)
                buffer[out++] = strictlyBefore(order[b], order[a]) ? order[b++] : order[a++];
            while (a < mid)
                buffer[out++] = order[a++];
            while (b < hi)
                buffer[out++] = order[b++];
        }
        order.swap(buffer);
    }

    // Move whole rows: every item of a row with its check state, and the
    // selection and current row with them (the selection model keeps positions,
    // not items, so it is carried over by hand).
    std::vector<bool> wasSelected(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        wasSelected[static_cast<size_t>(r)] = IsRowSelected(r);
    const int current = currentRow();
    const int columns = columnCount();
    std::vector<std::vector<QTableWidgetItem*>> taken(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        taken[static_cast<size_t>(r)].resize(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c)
            taken[static_cast<size_t>(r)][static_cast<size_t>(c)] = takeItem(r, c);
    }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            setItem(r, c, taken[static_cast<size_t>(order[static_cast<size_t>(r)])][static_cast<size_t>(c)]);

    QItemSelection selection;
    int newCurrent = -1;
    for (int r = 0; r < rows; ++r) {
        const int from = order[static_cast<size_t>(r)];
        if (from == current)
            newCurrent = r;
        if (wasSelected[static_cast<size_t>(from)])
            selection.select(model()->index(r, 0), model()->index(r, columns - 1));
    }
    if (newCurrent >= 0)
        selectionModel()->setCurrentIndex(model()->index(newCurrent, 0), QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void CProcessList::DrawProgressCell(int row, int column, QPainter& painter, const QColor& textColor,
                                    const QColor& backgroundColor, const QRect& rect)
{
    painter.fillRect(rect, backgroundColor);
    const StatusCellStyle style = StatusCellStyleOf(GetItemText(row, column));

    // The cell's outline, in the text colour; its inside keeps the background.
    painter.setPen(QPen(textColor, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));

    // At 0 percent (and for plain texts) the bar has no width: nothing is drawn.
    const QRect bar = ProgressBarRect(rect, style.percent);
    if (!bar.isEmpty())
        painter.fillRect(bar, style.barColor);

    if (!style.text.isEmpty()) {
        painter.setPen(textColor);
        painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, style.text);
    }
}

void CProcessList::mousePressEvent(QMouseEvent* event)
{
    QTableWidget::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit rightClicked(HitTestRow(event->position().toPoint()));
}
