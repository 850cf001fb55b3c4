#include "server/ui/rosterpane.h"

#include "platform/widgets/twips.h"
#include "server/lecture/rostergrid.h"
#include "server/ui/flaggedcelldelegate.h"
#include "server/ui/gridcolumns.h"
#include "server/ui/japanesefont.h"
#include "server/ui/rostermodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char *const KindNames[RosterFilter::KindCount] = {
    "filterAll", "filterAbsent", "filterNotHandedIn", "filterLate", "filterFlagged"};

// "hh:mm:ss" written with the font's widest digit: no time of day is wider.
QString widestTime(const QFontMetrics &metrics)
{
    QChar widest = u'0';
    for (char16_t digit = u'1'; digit <= u'9'; ++digit) {
        if (metrics.horizontalAdvance(QChar(digit)) > metrics.horizontalAdvance(widest))
            widest = QChar(digit);
    }
    return QString(2, widest) + u':' + QString(2, widest) + u':' + QString(2, widest);
}

} // namespace

RosterPane::RosterPane(const RosterGrid &grid, int layoutWidth, QWidget *parent)
    : QWidget(parent), m_grid(grid)
{
    setObjectName(QStringLiteral("RosterPane"));
    m_model = new RosterModel(grid, this);
    m_filter = new RosterFilter(grid, this);
    m_filter->setSourceModel(m_model);
    buildBar();
    buildView(layoutWidth);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(twipsToPixels(36));
    column->addWidget(m_bar);
    column->addWidget(m_view, 1);

    m_counts.setSingleShot(true);
    m_counts.setInterval(CountDelayMs);
    connect(&m_counts, &QTimer::timeout, this, &RosterPane::showCounts);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &RosterPane::scheduleCounts);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &RosterPane::scheduleCounts);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &RosterPane::scheduleCounts);
    connect(m_model, &QAbstractItemModel::modelReset, this, &RosterPane::scheduleCounts);
    connect(&grid, &RosterGrid::rosterCountChanged, this, &RosterPane::scheduleCounts);
    showCounts();
}

RosterPane::~RosterPane() = default;

void RosterPane::buildBar()
{
    m_bar = new QWidget(this);
    m_bar->setObjectName(QStringLiteral("filterBar"));
    m_bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(m_bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(twipsToPixels(30));
    for (int kind = 0; kind < RosterFilter::KindCount; ++kind) {
        auto *button = new QToolButton(m_bar);
        button->setObjectName(QString::fromLatin1(KindNames[kind]));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        // Clicked, like the toolbar's buttons: Tab keeps to the controls.
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::toggled, this, [this, kind](bool on) {
            if (on)
                m_filter->setKind(RosterFilter::Kind(kind));
        });
        row->addWidget(button);
        m_kinds[size_t(kind)] = button;
    }
    m_kinds[RosterFilter::All]->setChecked(true);
    m_search = new QLineEdit(m_bar);
    m_search->setObjectName(QStringLiteral("rosterSearch"));
    m_search->setPlaceholderText(QStringLiteral("ID・氏名 (Ctrl+F)"));
    m_search->setClearButtonEnabled(true);
    m_search->setFocusPolicy(Qt::ClickFocus);
    row->addWidget(m_search, 1);
    connect(m_search, &QLineEdit::textChanged, m_filter, &RosterFilter::setSearch);
    // Enter takes the lecturer to the rows found.
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        m_view->setFocus(Qt::OtherFocusReason);
        if (m_filter->rowCount() > 0)
            m_view->selectRow(0);
    });
    auto *find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, &RosterPane::focusSearch);
}

void RosterPane::buildView(int layoutWidth)
{
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("UserInfoGrid"));
    m_view->setModel(m_filter);
    m_view->setItemDelegate(new FlaggedCellDelegate(m_view));
    m_view->setFont(japaneseFont());
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(twipsToPixels(240));
    m_view->horizontalHeader()->setHighlightSections(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    // Tab moves on to the next control, not to the next cell.
    m_view->setTabKeyNavigation(false);
    m_columns = new GridColumns(*m_view, layoutWidth);
    connect(&m_grid, &RosterGrid::columnWidthChanged, this, [this](int column, int twips) {
        m_columns->setBaseWidth(column, columnPixels(column, twips));
    });
}

int RosterPane::barHeight() const
{
    return m_bar->sizeHint().height() + layout()->spacing();
}

int RosterPane::columnPixels(int column, int twips) const
{
    const int pixels = twipsToPixels(twips);
    if (column != RosterGrid::Attendance && column != RosterGrid::Assignment)
        return pixels;
    // The Japanese fonts here draw "hh:mm:ss" wider than the column the
    // layout gives; a time cut to "16:3…" would be no use to the lecturer.
    return qMax(pixels, timeCellPixels());
}

int RosterPane::timeCellPixels() const
{
    // Measured the way the view lays out and elides a cell: the style's item
    // size for the widest time in the grid's font, with its text margins, and
    // the grid line that the view takes off every cell.
    QStyleOptionViewItem option;
    option.initFrom(m_view);
    option.font = m_view->font();
    option.fontMetrics = QFontMetrics(option.font, m_view);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = widestTime(option.fontMetrics);
    const QSize cell =
        m_view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), m_view);
    return cell.width() + (m_view->showGrid() ? 1 : 0);
}

void RosterPane::setLateAfter(std::optional<int> seconds)
{
    m_filter->setLateAfter(seconds);
    showCounts();
}

void RosterPane::selectStudent(const QString &userId)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (!row || userId.isEmpty())
        return;
    // The model leaves out the heading row.
    const QModelIndex student = m_model->index(*row - 1, 0);
    if (!m_filter->mapFromSource(student).isValid()) {
        m_search->clear();
        m_kinds[RosterFilter::All]->setChecked(true);
    }
    m_view->selectRow(m_filter->mapFromSource(student).row());
}

void RosterPane::focusSearch()
{
    m_search->setFocus(Qt::ShortcutFocusReason);
    m_search->selectAll();
}

void RosterPane::scheduleCounts()
{
    if (!m_counts.isActive())
        m_counts.start();
}

void RosterPane::showCounts()
{
    m_counts.stop();
    for (int kind = 0; kind < RosterFilter::KindCount; ++kind)
        m_kinds[size_t(kind)]->setText(m_filter->caption(RosterFilter::Kind(kind)));
}
