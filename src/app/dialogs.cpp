#include "app/dialogs.h"

#include <QMessageBox>

namespace melofon::app {

int QtMessageBoxes::MsgBox(const QString& prompt, int flags, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QStringLiteral("Melofon") : title, prompt,
                    QMessageBox::NoButton, parent_);
    if ((flags & 7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

} // namespace melofon::app
