#include "app/qt/QtMessageBox.h"

#include <QMessageBox>
#include <QString>

namespace tarvel {

void QtMessageBox::Show(const std::string& text, int style) {
  QMessageBox box(style == Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QStringLiteral("TARVEL80Import"),
                  QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace tarvel
