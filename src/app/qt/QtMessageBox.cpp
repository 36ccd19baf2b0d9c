#include "app/qt/QtMessageBox.h"

#include <QMessageBox>
#include <QString>

#include "platform/posix/StandardErrorMessageBox.h"

namespace tarvel {

void QtMessageBox::Show(const std::string& text, int style) {
  StandardErrorMessageBox().Show(text, style);
  if (style == Note) return;
  QMessageBox box(style == Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QStringLiteral("TARVEL80Import"),
                  QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace tarvel
