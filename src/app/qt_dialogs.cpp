#include "app/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
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

QString QtInputBoxes::InputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

QStringList QtOpenFileDialog::nameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        const QString list = patterns.join(QLatin1Char(' '));
        // Qt reads the patterns from the last parentheses of each entry.
        result << (description.endsWith(QLatin1Char('(') + list + QLatin1Char(')'))
                       ? description
                       : description + QStringLiteral(" (") + list + QLatin1Char(')'));
    }
    return result;
}

void QtOpenFileDialog::ShowOpen() {
    QFileDialog dialog(parent_, DialogTitle);
    // Qt's own dialog everywhere: its filters ignore letter case, so "*.MP3" shows "tema.mp3".
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((Flags & cdlOFNAllowMultiselect) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!InitDir.isEmpty())
        dialog.setDirectory(InitDir);
    dialog.setNameFilters(nameFilters(Filter));
    FileName.clear();
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    if (files.size() == 1) {
        FileName = QDir::toNativeSeparators(files.first());
    } else if (files.size() > 1) {
        QStringList parts{QDir::toNativeSeparators(QFileInfo(files.first()).absolutePath())};
        for (const QString& f : files)
            parts << QFileInfo(f).fileName();
        FileName = parts.join(QChar(0));
    }
}

} // namespace melofon::app
