#include "ui/qt/QtMainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDate>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace tarvel {

namespace {

constexpr int TwipsPerPixel = 15;
constexpr int Pixels(int twips) {
  return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

constexpr int DesignClientWidth = Pixels(8736);   // 582 px
constexpr int DesignClientHeight = Pixels(2004);  // 134 px
constexpr int EtchHeight = 2;                     // the separator below the menu bar

struct ColumnDesign {
  const char* header;
  int twips;
  Qt::Alignment alignment;
};
constexpr ColumnDesign Columns[] = {
    {"Description", 2500, Qt::AlignLeft | Qt::AlignVCenter},
    {"Status", 4500, Qt::AlignLeft | Qt::AlignVCenter},
    {"Tx bytes", 800, Qt::AlignHCenter | Qt::AlignVCenter},
    {"Rx bytes", 800, Qt::AlignHCenter | Qt::AlignVCenter},
};

constexpr int PanelTwips[] = {5688, 1440, 840, 444};
constexpr int ClockIntervalMs = 1000;

QString FromLatin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The client area's top edge: an etched line (dark grey, then white one pixel below) across the
// whole width, with the connection list below it.
class EtchedArea : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(0, 1, width() - 1, 1);
  }
};

}  // namespace

QtMainWindow::QtMainWindow(const Clock& clock, const std::string& programPath)
    : QMainWindow(nullptr), debugWindow_(std::make_unique<QtDebugWindow>(clock, programPath)) {
  setWindowTitle(QStringLiteral("TARVEL80 Import for Ostrel Alarm Server"));
  BuildList();
  BuildStatusBar();
  BuildMenus();
  debugWindow_->SetUnloadHandler([this] { SetDebugChecked(false); });
  resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::BuildList() {
  auto* area = new EtchedArea(this);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, EtchHeight, 0, 0);
  layout->setSpacing(0);
  list_ = new QTreeWidget(area);
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setColumnCount(std::size(Columns));
  QTreeWidgetItem* header = list_->headerItem();
  for (int column = 0; column < static_cast<int>(std::size(Columns)); ++column) {
    header->setText(column, QString::fromLatin1(Columns[column].header));
    header->setTextAlignment(column, Columns[column].alignment);
    list_->setColumnWidth(column, Pixels(Columns[column].twips));
  }
  list_->header()->setStretchLastSection(false);
  // The columns start at their design widths and follow the window's width from its first
  // resize on, in the design's proportions.
  list_->viewport()->installEventFilter(this);
  layout->addWidget(list_);
  // The layout keeps the list filling the area above the status bar on every resize.
  setCentralWidget(area);
}

void QtMainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  for (int index = 0; index < 4; ++index) {
    auto* label = new QLabel(bar);
    label->setMinimumWidth(Pixels(PanelTwips[index]));
    panels_[index] = label;
  }
  // The connection state takes what the others leave and is cut when the window is narrow (its
  // tool tip holds the whole text); the others keep their design width or the width of their
  // text, whichever is larger.
  panels_[0]->setMinimumWidth(0);
  panels_[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bar->addWidget(panels_[0], 1);
  for (int index = 1; index < 4; ++index) bar->addPermanentWidget(panels_[index]);
  clockTimer_ = new QTimer(this);
  connect(clockTimer_, &QTimer::timeout, this, [this] { UpdateDateAndTime(); });
  clockTimer_->start(ClockIntervalMs);
  UpdateDateAndTime();
}

void QtMainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  exitAction_ = file->addAction(QStringLiteral("&Exit"));
  QMenu* show = menuBar()->addMenu(QStringLiteral("&Show"));
  debugAction_ = show->addAction(QStringLiteral("&Debug"));
  debugAction_->setCheckable(true);
  connect(exitAction_, &QAction::triggered, this, [this] { MenuExitClick(); });
  connect(debugAction_, &QAction::triggered, this, [this](bool checked) {
    // Qt has already toggled the check; the handler decides from the state before the click.
    debugAction_->setChecked(!checked);
    MenuDebugClick();
  });
}

// The short time format of some locales carries seconds; the panel shows hours and minutes.
QString QtMainWindow::ShortTimeFormat() {
  QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
  format.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
  return format;
}

void QtMainWindow::UpdateDateAndTime() {
  const QLocale locale = QLocale::system();
  panels_[2]->setText(locale.toString(QDate::currentDate(), QLocale::ShortFormat));
  panels_[3]->setText(locale.toString(QTime::currentTime(), ShortTimeFormat()));
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::Resize) FitColumns();
  return QMainWindow::eventFilter(watched, event);
}

// Each column gets its design share of the visible width; the last one takes what rounding
// leaves, so the columns fill the list exactly and no horizontal scroll bar appears.
void QtMainWindow::FitColumns() {
  int designTotal = 0;
  for (const ColumnDesign& column : Columns) designTotal += column.twips;
  const int width = list_->viewport()->width();
  int used = 0;
  const int last = static_cast<int>(std::size(Columns)) - 1;
  for (int column = 0; column < last; ++column) {
    const int share = width * Columns[column].twips / designTotal;
    list_->setColumnWidth(column, share);
    used += share;
  }
  list_->setColumnWidth(last, std::max(width - used, 0));
}

QLabel* QtMainWindow::Panel(int panel) const {
  return panel >= 1 && panel <= 4 ? panels_[panel - 1] : nullptr;
}

void QtMainWindow::SetCloseHandler(std::function<void(int reason)> handler) {
  closeHandler_ = std::move(handler);
}

void QtMainWindow::MenuDebugClick() {
  if (DebugChecked()) {
    debugWindow_->close();
    debugWindow_->Clear();  // also when the window was not on the screen
    SetDebugChecked(false);
  } else {
    debugWindow_->Open();
    SetDebugChecked(true);
  }
}

void QtMainWindow::MenuExitClick() {
  if (closeHandler_)
    closeHandler_(ExitMenuReason);
  else
    close();
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  if (!closeHandler_) {
    debugWindow_->close();
    event->accept();
    return;
  }
  event->ignore();
  closeHandler_(CloseBoxReason);
}

int QtMainWindow::AddRow(const std::string& text) {
  auto* item = new QTreeWidgetItem(list_, QStringList{FromLatin1(text)});
  for (int column = 1; column < static_cast<int>(std::size(Columns)); ++column)
    item->setTextAlignment(column, Columns[column].alignment);
  return list_->indexOfTopLevelItem(item);
}

void QtMainWindow::SetSubItem(int row, int subItem, const std::string& text) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr || subItem < StatusColumn || subItem > RxBytesColumn) return;
  item->setText(subItem, FromLatin1(text));
}

void QtMainWindow::SetPanelText(int panel, const std::string& text) {
  if (panel != ConnectionPanel && panel != CounterPanel) return;
  const QString shown = FromLatin1(text);
  panels_[panel - 1]->setText(shown);
  if (panel == ConnectionPanel) panels_[0]->setToolTip(shown);
}

std::string QtMainWindow::Caption() const {
  return windowTitle().toLatin1().toStdString();
}

void QtMainWindow::SetCaption(const std::string& caption) {
  setWindowTitle(FromLatin1(caption));
}

// A TAB in the caption separates the shortcut text, shown right-aligned in the menu.
void QtMainWindow::SetExitCaption(const std::string& caption) {
  exitAction_->setText(FromLatin1(caption));
}

void QtMainWindow::Hide() {
  hide();
}

bool QtMainWindow::DebugChecked() const {
  return debugAction_->isChecked();
}

void QtMainWindow::SetDebugChecked(bool checked) {
  debugAction_->setChecked(checked);
}

bool QtMainWindow::ShowLastChecked() const {
  return debugWindow_->ShowLastChecked();
}

void QtMainWindow::SetShowLastChecked(bool checked) {
  debugWindow_->SetShowLastChecked(checked);
}

}  // namespace tarvel
