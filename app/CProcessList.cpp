#include "app/CProcessList.h"

#include "app/DeviceListModel.h"

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

// Paints the status column from its numbers (DrawStatusCell); every other
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
        const StatusCellStyle style =
            StatusCellStyleOf(index.data(DeviceListModel::PercentRole).toInt(),
                              index.data(DeviceListModel::FailedRole).toBool(), index.data().toString());
        if (option.state & QStyle::State_Selected)
            DrawStatusCell(*painter, style, palette.color(QPalette::HighlightedText), palette.color(QPalette::Highlight),
                           rect);
        else
            DrawStatusCell(*painter, style, palette.color(QPalette::WindowText), palette.color(QPalette::Base), rect);
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

StatusCellStyle StatusCellStyleOf(int percent, bool failed, const QString& text)
{
    StatusCellStyle style;
    style.text = text;
    if (failed) {
        style.percent = 100;
        style.barColor = QColor(255, 0, 0);
    } else {
        style.percent = percent;
        style.barColor = percent == 100 ? QColor(0, 255, 0) : fromColorRef(CProcessList::kBarColor);
    }
    return style;
}

void DrawStatusCell(QPainter& painter, const StatusCellStyle& style, const QColor& textColor,
                    const QColor& backgroundColor, const QRect& rect)
{
    painter.fillRect(rect, backgroundColor);
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

CProcessList::CProcessList(QWidget* parent) : QTableView(parent)
{
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    // Every row is one line high: the view never measures a row's contents,
    // which for thousands of rows would cost more than showing them.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(true);
    setSortingEnabled(false);
    setItemDelegate(new StatusDelegate(this));
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CProcessList::columnClicked);
}

CProcessList::~CProcessList() = default;

int CProcessList::GetItemCount() const
{
    return model() ? model()->rowCount() : 0;
}

QString CProcessList::GetItemText(int row, int column) const
{
    return model() ? model()->index(row, column).data().toString() : QString();
}

QString CProcessList::GetItemToolTip(int row, int column) const
{
    return model() ? model()->index(row, column).data(Qt::ToolTipRole).toString() : QString();
}

QColor CProcessList::GetItemBackground(int row, int column) const
{
    const QVariant brush = model() ? model()->index(row, column).data(Qt::BackgroundRole) : QVariant();
    return brush.isValid() ? brush.value<QBrush>().color() : QColor();
}

bool CProcessList::GetCheck(int row) const
{
    return model() && model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

bool CProcessList::SetCheck(int row, bool checked)
{
    return model() && model()->setData(model()->index(row, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

bool CProcessList::IsRowSelected(int row) const
{
    return selectionModel() && selectionModel()->isRowSelected(row, QModelIndex());
}

int CProcessList::HitTestRow(const QPoint& viewportPos) const
{
    QModelIndex index = indexAt(viewportPos);
    return index.isValid() ? index.row() : -1;
}

void CProcessList::mousePressEvent(QMouseEvent* event)
{
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit rightClicked(HitTestRow(event->position().toPoint()));
}
