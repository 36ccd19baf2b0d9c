#include "ui/qt/QtDebugWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QFont>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

namespace tarvel {

namespace {

constexpr int TwipsPerPixel = 15;
constexpr int DesignClientWidth = 9684 / TwipsPerPixel;   // 646 px
constexpr int DesignClientHeight = 2268 / TwipsPerPixel;  // 151 px

QFont ListFont() {
  QFont font(QStringLiteral("Courier New"), 9);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  return font;
}

}  // namespace

QtDebugWindow::QtDebugWindow(const Clock& clock, const std::string& programPath)
    : QMainWindow(nullptr), save_(clock), programPath_(programPath), list_(new QListWidget(this)) {
  setWindowTitle(QStringLiteral("TARVEL80 Import for Ostrel Alarm Server - Debug"));
  list_->setFont(ListFont());
  // Rows of one height let the list lay out hundreds of rows without measuring each.
  list_->setUniformItemSizes(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(list_);  // keeps the list filling the client area on every resize
  BuildMenus();
  resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
}

QtDebugWindow::~QtDebugWindow() = default;

void QtDebugWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  saveAction_ = file->addAction(QStringLiteral("&Save Debug Info to TARVEL80Import.TXT"));
  file->addSeparator();
  showLastAction_ = file->addAction(QStringLiteral("&Always show last row"));
  showLastAction_->setCheckable(true);  // a click toggles the check, nothing else
  showLastAction_->setChecked(true);
  file->addSeparator();
  clearAction_ = file->addAction(QStringLiteral("&Clear the debug window"));
  connect(saveAction_, &QAction::triggered, this, [this] { MenuSaveClick(); });
  connect(clearAction_, &QAction::triggered, this, [this] { MenuClearClick(); });
}

void QtDebugWindow::Open() {
  Clear();
  showLastAction_->setChecked(true);
  show();
  raise();
}

bool QtDebugWindow::ShowLastChecked() const {
  return showLastAction_->isChecked();
}

void QtDebugWindow::SetShowLastChecked(bool checked) {
  showLastAction_->setChecked(checked);
}

bool QtDebugWindow::MenuSaveClick() {
  const bool saved = save_.SaveDebugInfo(programPath_, *this);
  if (!saved) {
    // Not modal to the application: the gateway goes on while the operator reads it.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("The debug info could not be written to ") +
                                    QString::fromLocal8Bit(programPath_ + DebugSave::FileName) +
                                    QStringLiteral("."),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
  return saved;
}

void QtDebugWindow::MenuClearClick() {
  Clear();
}

void QtDebugWindow::AddItem(const std::string& text) {
  list_->addItem(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void QtDebugWindow::RemoveItem(int index) {
  QListWidgetItem* item = list_->takeItem(index);
  if (item == pendingItem_) pendingItem_ = nullptr;
  delete item;
}

int QtDebugWindow::ListCount() const {
  return list_->count();
}

std::string QtDebugWindow::Item(int index) const {
  const QListWidgetItem* item = list_->item(index);
  return item == nullptr ? std::string() : item->text().toLatin1().toStdString();
}

// Scrolling lays the list out again, which costs far more than adding a row; with thousands of
// rows a second the selection of the last row is applied once per burst, when the event loop
// comes back. Rows are counted at once; only the selection and the scrolling follow.
void QtDebugWindow::SetListIndex(int index) {
  QListWidgetItem* item = list_->item(index);
  if (item == nullptr) return;
  pendingItem_ = item;
  if (scrollPosted_) return;
  scrollPosted_ = true;
  QTimer::singleShot(0, this, [this] { ScrollToPending(); });
}

void QtDebugWindow::ScrollToPending() {
  scrollPosted_ = false;
  if (pendingItem_ == nullptr) return;
  list_->setCurrentItem(pendingItem_);
  list_->scrollToItem(pendingItem_);
  pendingItem_ = nullptr;
}

void QtDebugWindow::Clear() {
  pendingItem_ = nullptr;
  list_->clear();
}

void QtDebugWindow::closeEvent(QCloseEvent* event) {
  // Closing is never refused; the rows are discarded as with a window unloaded.
  Clear();
  event->accept();
  if (unloadHandler_) unloadHandler_();
}

}  // namespace tarvel
