#include "app/qt_dialogs.h"
#include "app/translations.h"
#include "support/temp_dir.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using melofon::app::QtInputBoxes;
using melofon::app::QtMessageBoxes;
using melofon::app::QtOpenFileDialog;

namespace {

// Runs `act` on the next modal dialog once it is shown.
template <class Dialog>
void whenShown(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        for (int i = 0; i < 200; ++i) {
            if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                act(d);
                return;
            }
            QTest::qWait(10);
        }
        ADD_FAILURE() << "no dialog appeared";
    });
}

} // namespace

TEST(QtDialogs, MessageBoxesSpeakSpanishAndAnswerAsCodes) {
    ASSERT_TRUE(melofon::app::loadSpanishTranslations(*QCoreApplication::instance()));
    QtMessageBoxes boxes;
    QStringList buttons;
    QString title;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text().remove(QLatin1Char('&'));
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(boxes.MsgBox(QStringLiteral("¿Seguro?"), 4), 7);
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("No"), QStringLiteral("Sí")}));
    EXPECT_EQ(title, QStringLiteral("Melofon"));

    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(boxes.MsgBox(QStringLiteral("¿Seguro?"), 4), 6);

    whenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        buttons = {box->buttons().first()->text().remove(QLatin1Char('&'))};
        box->accept();
    });
    EXPECT_EQ(boxes.MsgBox(QStringLiteral("Hecho"), 0, QStringLiteral("Atención")), 1);
    EXPECT_EQ(title, QStringLiteral("Atención"));
    EXPECT_EQ(buttons, QStringList{QStringLiteral("Aceptar")});
}

TEST(QtDialogs, InputBoxGivesTheTextOrNothingWhenCancelled) {
    QtInputBoxes input;
    whenShown<QInputDialog>([](QInputDialog* d) {
        EXPECT_EQ(d->textValue(), QStringLiteral("Mi música favorita"));
        d->setTextValue(QStringLiteral("  Rock  "));
        d->accept();
    });
    EXPECT_EQ(input.InputBox(QStringLiteral("Nombre de la lista:"), QStringLiteral("Nueva Lista"),
                             QStringLiteral("Mi música favorita")),
              QStringLiteral("  Rock  "));
    whenShown<QInputDialog>([](QInputDialog* d) { d->reject(); });
    EXPECT_EQ(input.InputBox(QStringLiteral("p"), QStringLiteral("t"), QStringLiteral("x")), QString());
}

TEST(QtDialogs, FileDialogIgnoresLetterCaseAndJoinsSeveralFilesWithNul) {
    EXPECT_EQ(QtOpenFileDialog::nameFilters(QStringLiteral("MP3 (*.MP3)|*.MP3| MID (*.MID)|*.MID| WAV (*.WAV)|*.WAV;")),
              (QStringList{QStringLiteral("MP3 (*.MP3)"), QStringLiteral("MID (*.MID)"), QStringLiteral("WAV (*.WAV)")}));
    EXPECT_EQ(QtOpenFileDialog::nameFilters(QStringLiteral("Sonido|*.mp3;*.wav")),
              QStringList{QStringLiteral("Sonido (*.mp3 *.wav)")});

    melofon::test::TempDir dir;
    for (const char* name : {"tema.mp3", "OTRO.MP3", "nota.txt"})
        dir.write(QString::fromLatin1(name), "x");
    QtOpenFileDialog dialog;
    dialog.InitDir = dir.path();
    dialog.Filter = QStringLiteral("MP3 (*.MP3)|*.MP3");
    dialog.Flags = 0x80200;
    dialog.DialogTitle = QStringLiteral("Seleccione");
    QStringList listed;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        auto* view = d->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        for (int i = 0; i < 200 && view && view->model()->rowCount(view->rootIndex()) < 2; ++i)
            QTest::qWait(10);
        for (int r = 0; view && r < view->model()->rowCount(view->rootIndex()); ++r)
            listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
        // Typed into the name box and confirmed, as a user would.
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("\"tema.mp3\" \"OTRO.MP3\""));
        QMetaObject::invokeMethod(d, "accept");
    });
    dialog.ShowOpen();
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("OTRO.MP3"), QStringLiteral("tema.mp3")}));
    const QStringList parts = dialog.FileName.split(QChar(0));
    ASSERT_EQ(parts.size(), 3) << dialog.FileName.toStdString();
    EXPECT_EQ(parts[0], dir.path());
    EXPECT_TRUE(parts.contains(QStringLiteral("tema.mp3")));
    EXPECT_TRUE(parts.contains(QStringLiteral("OTRO.MP3")));

    whenShown<QFileDialog>([](QFileDialog* d) { d->reject(); });
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName, QString());
}
