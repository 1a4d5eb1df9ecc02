#include "about/frm_about.h"
#include "ui/twips_layout.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QVersionNumber>
#include <QWindow>

#include <cmath>
#include <exception>

namespace melofon::about {

namespace {

const QString kTitle = QStringLiteral("Melofon");

using app::place;
using app::px;
using app::twips;

QLabel* label(QWidget* parent, const char* name, const QRect& geometry, const QString& text) {
    auto* l = place<QLabel>(parent, name, geometry, text);
    // Addresses stay plain text: nothing here opens a mail program or a browser.
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    return l;
}

// A horizontal line from (x1, y) to (x2, y) in twips, end point excluded, `width` pixels thick.
QWidget* line(QWidget* parent, int x1, int x2, int y, int width, const QColor& color) {
    auto* w = place<QWidget>(parent, "Line1", QRect(px(x1), px(y), px(x2) - px(x1), width));
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, color);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
    return w;
}

QPointer<frmAbout>& sharedDialog() {
    static QPointer<frmAbout> dialog;
    return dialog;
}

} // namespace

bool startDetached(const QString& path) { return QProcess::startDetached(path, {}); }

frmAbout::frmAbout(editing::MessageBoxes& messages, const QIcon& icon, registry::RegistryApi& registry,
                   ProgramStarter startProgram)
    // No owner: the dialog counts as a window of the program by itself.
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      messages_(messages), registry_(registry), startProgram_(std::move(startProgram)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Acerca de MiApl"));
    setWindowIcon(icon);
    setModal(false);
    // The same narrow face as the main window, for which the layout was drawn.
    QFont captions = font();
    if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed")))
        captions.setFamily(QStringLiteral("DejaVu Sans Condensed"));
    captions.setPointSizeF(8.25);
    setFont(captions);
    setFixedSize(px(5940), px(3555));
    buildControls(icon);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::buildControls(const QIcon& icon) {
    picIcon = place<QLabel>(this, "picIcon", twips(240, 240, 510, 510));
    picIcon->setPixmap(icon.pixmap(32, 32));
    picIcon->setAlignment(Qt::AlignCenter);
    lblTitle = label(this, "lblTitle", twips(1050, 240, 3885, 480), QStringLiteral("Título de la aplicación"));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(14);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblVersion = label(this, "lblVersion", twips(1050, 780, 3885, 225), QStringLiteral("Versión"));
    lblDescription = label(this, "lblDescription", twips(1050, 1125, 3885, 330),
                           QStringLiteral("Reproductor de sonidos."));
    lblEmail = label(this, "lblEmail", twips(1080, 1680, 3855, 255),
                     QStringLiteral("E-mail: ") + QStringLiteral("soporte@example.org"));
    lblWeb = label(this, "lblWeb", twips(1080, 2160, 3855, 255), QStringLiteral("https://www.example.org/melofon"));
    // The notice that the program is free sits under the separator, beside the buttons.
    lblDisclaimer = label(this, "lblDisclaimer", twips(255, 2625, 3870, 825),
                          QStringLiteral("Este programa es gratuito."));
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Line1[1] = line(this, 90, 5654, 2445, 1, QColor(0x80, 0x80, 0x80));
    Line1[0] = line(this, 105, 5654, 2460, 2, QColor(0xFF, 0xFF, 0xFF));
    cmdOK = place<QPushButton>(this, "cmdOK", twips(4320, 2625, 1500, 345), QStringLiteral("Aceptar"));
    cmdSysInfo = place<QPushButton>(this, "cmdSysInfo", twips(4320, 3075, 1485, 345),
                                    QStringLiteral("&Info. del sistema..."));
    cmdOK->setDefault(true);

    const QWidget* tabOrder[] = {cmdOK, picIcon, cmdSysInfo, lblDescription, lblDisclaimer,
                                 lblTitle, lblVersion, lblEmail, lblWeb};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(tabOrder[i]), const_cast<QWidget*>(tabOrder[i + 1]));
    cmdOK->setFocus();
}

frmAbout* frmAbout::showShared(editing::MessageBoxes& messages, const QIcon& icon,
                               registry::RegistryApi& registry, ProgramStarter startProgram) {
    QPointer<frmAbout>& dialog = sharedDialog();
    if (!dialog) {
        dialog = new frmAbout(messages, icon, registry, std::move(startProgram));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

frmAbout* frmAbout::shared() { return sharedDialog(); }

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral("Acerca de ") + kTitle);
    const QVersionNumber version = QVersionNumber::fromString(QStringLiteral(MELOFON_VERSION));
    lblVersion->setText(QStringLiteral("Versión %1.%2.%3")
                            .arg(version.majorVersion())
                            .arg(version.minorVersion())
                            .arg(version.microVersion()));
    lblTitle->setText(kTitle);
}

void frmAbout::cmdOK_Click() { QDialog::done(QDialog::Accepted); }

void frmAbout::reject() { cmdOK->click(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::StartSysInfo() {
    using registry::HKEY_LOCAL_MACHINE;
    bool started = false;
    try {
        QString path;
        bool found = GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                                 QStringLiteral("PATH"), path);
        QString dir;
        if (!found && GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                                  QStringLiteral("MSINFO"), dir)) {
            path = dir + QDir::separator() + QStringLiteral("MSINFO32.EXE");
            const QFileInfo file(path);
            found = file.isFile() && !file.isHidden();
        }
        started = found && startProgram_(path);
    } catch (const std::exception&) {
        // A failing lookup or start is reported like a missing program.
    }
    if (!started)
        messages_.MsgBox(QStringLiteral("La información del sistema no está disponible en este momento"),
                         editing::MessageBoxes::vbOKOnly);
}

bool frmAbout::GetKeyValue(registry::HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal) {
    using namespace registry;
    const QByteArray keyName = KeyName.toLocal8Bit();
    const QByteArray valueName = SubKeyRef.toLocal8Bit();
    HKEY hKey = 0;
    // Reading needs no more; an ordinary user is refused full access to this root.
    if (registry_.RegOpenKeyExA(KeyRoot, keyName.constData(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    std::array<BYTE, 1024> buffer{};
    DWORD size = DWORD(buffer.size());
    DWORD type = REG_NONE;
    const LONG rc = registry_.RegQueryValueExA(hKey, valueName.constData(), nullptr, &type, buffer.data(), &size);
    bool read = false;
    // A value with no data reads as missing, so that a caller can look elsewhere.
    if (rc != ERROR_SUCCESS || size == 0 || size > buffer.size()) {
        KeyVal.clear();
    } else {
        const DWORD kept = buffer[size - 1] == 0 ? size - 1 : size;
        if (type == REG_SZ) {
            KeyVal = QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer.data()), qsizetype(kept));
        } else if (type == REG_DWORD) {
            QString hex;
            for (DWORD i = kept; i > 0; --i)
                hex += QStringLiteral("%1").arg(buffer[i - 1], 2, 16, QLatin1Char('0')).toUpper();
            bool ok = false;
            const qulonglong number = hex.toULongLong(&ok, 16);
            KeyVal = ok ? QString::number(number) : QStringLiteral("&h") + hex;
        }
        read = true;
    }
    registry_.RegCloseKey(hKey);
    return read;
}

} // namespace melofon::about
