#pragma once
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidget>

// Whether a text shows whole on screen rather than cut short with "…": measured with the font the
// cell is drawn in, against the room the style leaves for it.
namespace ShownWhole {

namespace detail {
// The style keeps this much clear on each side of an item's text.
inline int textMargin(const QWidget* view) {
  return view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}
inline QFont fontOf(const QVariant& itemFont, const QWidget* view) {
  return itemFont.isValid() ? itemFont.value<QFont>() : view->font();
}
}  // namespace detail

// A grid cell: its column less the grid line and the margins.
inline bool cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  if (!item) return true;
  const int room = grid->columnWidth(column) - (grid->showGrid() ? 1 : 0) - 2 * detail::textMargin(grid);
  return QFontMetrics(detail::fontOf(item->data(Qt::FontRole), grid)).horizontalAdvance(item->text()) <= room;
}

// A cell of a list without a tree: its column less the margins.
inline bool cell(const QTreeWidget* tree, const QTreeWidgetItem* item, int column) {
  const int room = tree->columnWidth(column) - 2 * detail::textMargin(tree);
  return QFontMetrics(detail::fontOf(item->data(column, Qt::FontRole), tree)).horizontalAdvance(item->text(column)) <=
         room;
}

// A header section: no narrower than what the header itself asks for its text.
inline bool section(const QHeaderView* header, int logical) {
  return header->sectionSize(logical) >= header->sectionSizeHint(logical);
}

}  // namespace ShownWhole
