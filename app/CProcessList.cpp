#include "app/CProcessList.h"

#include "platform/Numbers.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QCache>
#include <QStaticText>
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

// A row's first item, which carries the row's place for SortRows: the list's
// own sort orders rows by it.
class RankedItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    QTableWidgetItem* clone() const override { return new RankedItem(*this); }
    bool operator<(const QTableWidgetItem& other) const override
    {
        const auto* ranked = dynamic_cast<const RankedItem*>(&other);
        return ranked ? rank < ranked->rank : QTableWidgetItem::operator<(other);
    }
    int rank = 0;
};

// Paints the status column through the list's DrawProgressCell; every other
// column as the list itself would, with the texts' shaping kept between
// paints: shaping text anew for every visible cell at every paint is what a
// paint of the list costs, and a burst of reports repaints it many times.
class StatusDelegate : public QStyledItemDelegate {
public:
    explicit StatusDelegate(CProcessList* list) : QStyledItemDelegate(list), m_list(list) { m_shaped.setMaxCost(4096); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (index.column() != CProcessList::kStatusColumn) {
            paintText(painter, option, index);
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
    void paintText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        QStyle* style = opt.widget ? opt.widget->style() : m_list->style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
        const QRect textRect =
            style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget).adjusted(margin, 0, -margin, 0);
        const QStaticText* shaped = text.isEmpty() ? nullptr : shapedText(text, opt.font);
        if (shaped && shaped->size().width() > textRect.width()) {
            // Too wide for its cell: the list's own drawing elides it.
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        // The panel, the selection and the check box, without the text...
        opt.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        if (!shaped)
            return;
        // ... which goes where the list puts it: left, centred vertically.
        painter->save();
        painter->setFont(opt.font);
        const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                      : QPalette::Text));
        const qreal y = textRect.top() + (textRect.height() - shaped->size().height()) / 2;
        painter->drawStaticText(QPointF(textRect.left(), y), *shaped);
        painter->restore();
    }

    const QStaticText* shapedText(const QString& text, const QFont& font) const
    {
        const QString key = font.key() + QLatin1Char('\x1f') + text;
        if (QStaticText* cached = m_shaped.object(key))
            return cached;
        auto* shaped = new QStaticText(text);
        shaped->setTextFormat(Qt::PlainText);
        shaped->setPerformanceHint(QStaticText::AggressiveCaching);
        shaped->prepare(QTransform(), font);
        m_shaped.insert(key, shaped);
        return m_shaped.object(key);
    }

    CProcessList* m_list;
    mutable QCache<QString, QStaticText> m_shaped;  // by font and text, at most 4096
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
    // In edge coordinates, as the bar's geometry is defined: right and bottom
    // are exclusive.
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

QTableWidgetItem* CProcessList::NewItem(int column, const QString& text) const
{
    auto* item = column == 0 ? new RankedItem(text) : new QTableWidgetItem(text);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (column == 0 && (m_extendedStyle & 0x4)) {
        flags |= Qt::ItemIsUserCheckable;
        item->setCheckState(Qt::Unchecked);
    }
    item->setFlags(flags);
    return item;
}

int CProcessList::InsertItem(int row, const QString& text)
{
    row = std::clamp(row, 0, rowCount());
    insertRow(row);
    for (int c = 0; c < columnCount(); ++c)
        setItem(row, c, NewItem(c, c == 0 ? text : QString()));
    return row;
}

void CProcessList::AppendRows(const std::vector<QStringList>& rows)
{
    if (rows.empty())
        return;
    const int first = rowCount();
    setRowCount(first + static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
        const int row = first + static_cast<int>(r);
        for (int c = 0; c < columnCount(); ++c)
            setItem(row, c, NewItem(c, c < rows[r].size() ? rows[r][c] : QString()));
    }
}

bool CProcessList::SetItemText(int row, int column, const QString& text)
{
    QTableWidgetItem* it = item(row, column);
    if (!it)
        return false;
    it->setText(text);
    return true;
}

QString CProcessList::GetItemToolTip(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->toolTip() : QString();
}

bool CProcessList::SetItemBackground(int row, int column, const QColor& color)
{
    QTableWidgetItem* it = item(row, column);
    if (!it)
        return false;
    it->setData(Qt::BackgroundRole, color.isValid() ? QVariant(QBrush(color)) : QVariant());
    return true;
}

QColor CProcessList::GetItemBackground(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    const QVariant brush = it ? it->data(Qt::BackgroundRole) : QVariant();
    return brush.isValid() ? brush.value<QBrush>().color() : QColor();
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

    // Move whole rows, in one reordering of the model: each row's first item
    // is given its new place, and the list's own sort moves the rows by it,
    // with every item, check state, the selection and the current row.
    for (int r = 0; r < rows; ++r) {
        if (auto* first = dynamic_cast<RankedItem*>(item(order[static_cast<size_t>(r)], 0)))
            first->rank = r;
    }
    sortItems(0, Qt::AscendingOrder);
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
